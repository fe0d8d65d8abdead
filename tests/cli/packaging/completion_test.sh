#!/usr/bin/env bash
# Shell completion through real shells: bash runs the completion function on each line of the
# table below, as readline would call it, once with the bash-completion package's helpers and
# once without them; zsh loads its completion file with compinit.
# Arguments: folder of the zolvane program, folder of the completion scripts.
set -euo pipefail
bin=$1 scripts=$2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
inventory=$scratch/inventory.toml
cat >"$inventory" <<'EOF'
[[projector]]
name = "room101"
address = "tcp://127.0.0.1:1"
groups = ["building-a"]

[[projector]]
name = "room102"
address = "tcp://127.0.0.1:2"
groups = ["building-a", "upstairs"]
EOF

# What is typed (the cursor at its end), the candidates that must
# be offered and those that must not, as bash would insert them.
table=(
    "zolvane |get set status list power input backup|__complete"
    "zolvane st|status|get"
    "zolvane --tr|--trace|--tcp"
    "zolvane --tcp 10.0.0.1:23 g|get|--tcp"
    "zolvane --retries 2 get Bri|Brightness|Contrast"
    "zolvane exec |AutoAdjust|Brightness"
    "zolvane set Aspect |4:3 16:9 Normal Small|off"
    "zolvane set Aspect 16:|9|16:9"
    "zolvane set Mirror H|H-Inverse H\\&V-Inverse|V-Inverse"
    "zolvane power |on off|cooling-down"
    "zolvane input S|S-Video|RGB"
    "zolvane frame set Mu|Mute|Power"
    "zolvane status --|--json --trace|--include-power"
    "zolvane --inventory $inventory @|all room101 room102 building-a upstairs|get"
    "zolvane --inventory $inventory @room|room101 room102|all"
    "zolvane --inventory $scratch/none.toml @||all"
    "ZOLVANE_INVENTORY=$inventory zolvane @up|upstairs|room101"
)

# Runs the completion function on each row in one bash; prints "row: candidates" per row.
# With "plain", the bash-completion helpers are not loaded.
complete_rows() {
    PATH=$bin:$PATH BASH_COMPLETION_HELPERS=$1 SCRIPT=$scripts/zolvane.bash \
        bash --norc --noprofile -c '
        if [ "$BASH_COMPLETION_HELPERS" = full ]; then
            source /usr/share/bash-completion/bash_completion
        fi
        source "$SCRIPT"
        # As in an interactive bash (hostcomplete adds "@").
        COMP_WORDBREAKS=$'"'"' \t\n"\'"'"'@><=;|&(:'"'"'
        while IFS= read -r line; do
            environment=
            [[ $line == ZOLVANE_INVENTORY=* ]] && environment=${line%% *} line=${line#* }
            # The words as readline splits them: at blanks, and around "@", ":" and "=".
            read -ra COMP_WORDS <<<"$(sed -E "s/([@:=])/ \\1 /g" <<<"$line")"
            [[ $line == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
            COMPREPLY=()
            if [ -n "$environment" ]; then export "$environment"; fi
            _zolvane
            unset ZOLVANE_INVENTORY
            echo "${COMPREPLY[*]}"
        done'
}

failures=0
for helpers in full plain; do
    [ $helpers = full ] && [ ! -e /usr/share/bash-completion/bash_completion ] && continue
    mapfile -t results < <(for row in "${table[@]}"; do echo "${row%%|*}"; done |
        complete_rows $helpers)
    for i in "${!table[@]}"; do
        IFS='|' read -r typed wanted unwanted <<<"${table[i]}"
        offered=" ${results[i]} "
        for word in $wanted; do
            [[ $offered == *" $word "* ]] ||
                { echo "FAILED ($helpers): '$typed' offers [${results[i]}], not $word"; failures=1; }
        done
        for word in $unwanted; do
            [[ $offered != *" $word "* ]] ||
                { echo "FAILED ($helpers): '$typed' offers $word"; failures=1; }
        done
    done
done

# zsh: what is typed and the candidates handed to compadd (which does the matching itself).
zsh_table=(
    "zolvane |get status power"
    "zolvane power |on off"
    "zolvane --tcp 10.0.0.1:23 set Aspect |4:3 16:9 Normal"
    "zolvane status -|--json --trace"
    "zolvane --inventory $inventory @|@all @room101 @upstairs"
)
if command -v zsh >/dev/null; then
    zsh -n "$scripts/_zolvane" || { echo "FAILED: zsh cannot read _zolvane"; failures=1; }
    for row in "${zsh_table[@]}"; do
        typed=${row%%|*}
        offered=" $(PATH=$bin:$PATH TYPED=$typed zsh -fc "compadd() { print -r -- \${(@P)2} }
            source $scripts/_zolvane; words=(\${(z)TYPED}); [[ \$TYPED == *' ' ]] && words+=('')
            CURRENT=\${#words}; _zolvane" | tr '\n' ' ') "
        for word in ${row#*|}; do
            [[ $offered == *" $word "* ]] ||
                { echo "FAILED (zsh): '$typed' offers [$offered], not $word"; failures=1; }
        done
    done
    found=$(ZDOTDIR=$scratch zsh -fc "fpath=($scripts \$fpath); autoload -U compinit;
        compinit -u -d $scratch/zcompdump; print -r -- \$_comps[zolvane]")
    [ "$found" = _zolvane ] || { echo "FAILED: zsh's compinit gives '$found' for zolvane"; failures=1; }
fi
exit $failures
