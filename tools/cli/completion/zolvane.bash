# bash completion for zolvane                                  -*- shell-script -*-
#
# The candidates come from the program itself (zolvane __complete ...), so that new commands,
# options, settings and value names complete without a change here. Targets (@NAME) come from
# the inventory the command would use: --inventory FILE on the line, or the default one.

_zolvane() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n @:= || return
    else
        # Without the bash-completion package: the words up to the cursor, split at blanks.
        read -ra words <<<"${COMP_LINE:0:COMP_POINT}"
        [[ ${COMP_LINE:0:COMP_POINT} == *[[:blank:]] || ${#words[@]} -eq 0 ]] && words+=("")
        cword=$((${#words[@]} - 1))
        cur=${words[cword]}
        prev=${words[cword - 1]}
    fi

    local program=${words[0]}
    # What has been typed: the command, its arguments, and the inventory named.
    local command="" inventory="" word i valued
    local -a arguments=()
    valued=" $(_zolvane_ask valued-options | tr '\n' ' ') "
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case $word in
        --inventory=*) inventory=${word#*=} ;;
        -*=* | @*) ;;
        --inventory | -i)
            [[ -z $command ]] && inventory=${words[i + 1]}
            ((i++))
            ;;
        -*) [[ $valued == *" $word "* ]] && ((i++)) ;;
        *)
            if [[ -z $command ]]; then
                command=$word
                valued=" $(_zolvane_ask valued-options "$command" | tr '\n' ' ') "
            else
                arguments+=("$word")
            fi
            ;;
        esac
    done

    local candidates=""
    if [[ $prev == --inventory || $prev == -i || ($prev == -* && $valued == *" $prev "*) ]]; then
        case $prev in
        --settings | --inventory | -i) _zolvane_files ;;
        esac
        return
    fi
    case $cur in
    -*) candidates=$(_zolvane_ask options "$command"; [[ -n $command ]] && _zolvane_ask options) ;;
    @*) [[ -z $command ]] && candidates=$(_zolvane_ask targets ${inventory:+"$inventory"}) ;;
    *)
        if [[ -z $command ]]; then
            candidates=$(_zolvane_ask commands)
        else
            case $command:${#arguments[@]} in
            get:0 | set:0 | inc:0 | dec:0 | reset:0 | exec:0)
                candidates=$(_zolvane_ask settings "$command") ;;
            set:1) candidates=$(_zolvane_ask values "${arguments[0]}") ;;
            frame:0) candidates="get set inc dec reset exec" ;;
            frame:1) candidates=$(_zolvane_ask settings "${arguments[0]}") ;;
            frame:2) [[ ${arguments[0]} == set ]] && candidates=$(_zolvane_ask values "${arguments[1]}") ;;
            backup:0 | restore:0 | diff:0) _zolvane_files; return ;;
            *:0) candidates=$(_zolvane_ask values "$command") ;;
            esac
        fi
        ;;
    esac

    # Bash replaces only what follows the last word-break character ('@', ':', '=') of the
    # word, so that much is cut from each match; what is left is quoted for the shell ('&').
    local breaks=${COMP_WORDBREAKS//[^@:=]/} head="" candidate quoted
    [[ -n $breaks ]] && head=${cur%"${cur##*["$breaks"]}"}
    COMPREPLY=()
    while IFS= read -r candidate; do
        [[ -n $candidate && $candidate == "$cur"* ]] || continue
        printf -v quoted %q "${candidate#"$head"}"
        COMPREPLY+=("$quoted")
    done <<<"${candidates// /$'\n'}"
}

# The program as typed on the line ($program of _zolvane), asked for candidates.
_zolvane_ask() {
    "$program" __complete "$@" 2>/dev/null
}

_zolvane_files() {
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _zolvane zolvane
