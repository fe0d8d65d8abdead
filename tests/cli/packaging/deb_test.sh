#!/usr/bin/env bash
# Builds the Debian packages with one CPack run, checks what each one holds and depends on,
# installs them all into one scratch root (dpkg --root: no change to this machine) and uses them
# from there: the tools against the packaged emulator, the service on the example inventory, the
# completion, the man pages, varnex --help, and a program built against libzolvane-dev with
# pkg-config and with find_package.
# Arguments: build dir, scratch dir, cpack, cmake, C compiler, consumer source dir, version.
set -euo pipefail
build=$1 scratch=$2 cpack=$3 cmake=$4 cc=$5 consumer=$6 version=$7

failures=0
fail() { echo "FAILED: $*" >&2; failures=1; }
stop() { echo "FAILED: $*" >&2; exit 1; }
rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/packages" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; stop "cpack -G DEB"; }
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$arch
varnex_built=$([ -x "$build/bin/varnex" ] && echo yes || echo no)

declare -A deb
for file in "$scratch"/packages/*.deb; do
    deb[$(dpkg-deb --field "$file" Package)]=$file
done
packages=(libzolvane1 libzolvane-dev zolvane)
[ $varnex_built = yes ] && packages+=(varnex)
[ ${#deb[@]} -eq ${#packages[@]} ] || fail "packages made: ${!deb[*]}; expected ${packages[*]}"
for package in "${packages[@]}"; do
    [ -n "${deb[$package]:-}" ] || stop "no package $package"
    [ "$(dpkg-deb --field "${deb[$package]}" Version)" = "$version" ] || fail "$package version"
done

# Each package's files, as `dpkg-deb -c` lists them (without the leading "./").
# package         path
expected_files=(
    "libzolvane1    $lib/libzolvane.so.1"
    "libzolvane1    $lib/libzolvane.so.${version%.*}"
    "libzolvane-dev $lib/libzolvane.so"
    "libzolvane-dev usr/include/zolvane.h"
    "libzolvane-dev usr/include/zolvane_catalogue.h"
    "libzolvane-dev usr/include/zolvane_link.h"
    "libzolvane-dev $lib/pkgconfig/zolvane.pc"
    "libzolvane-dev $lib/cmake/Zolvane/ZolvaneConfig.cmake"
    "libzolvane-dev $lib/cmake/Zolvane/ZolvaneConfigVersion.cmake"
    "libzolvane-dev $lib/cmake/Zolvane/ZolvaneTargets.cmake"
    "zolvane        usr/bin/zolvane"
    "zolvane        usr/bin/projector-emulator"
    "zolvane        usr/sbin/zolvaned"
    "zolvane        usr/lib/systemd/system/zolvaned.service"
    "zolvane        usr/share/man/man1/zolvane.1.gz"
    "zolvane        usr/share/man/man1/projector-emulator.1.gz"
    "zolvane        usr/share/man/man8/zolvaned.8.gz"
    "zolvane        usr/share/bash-completion/completions/zolvane"
    "zolvane        usr/share/zsh/vendor-completions/_zolvane"
    "zolvane        usr/share/doc/zolvane/examples/inventory.toml"
    "zolvane        usr/share/doc/zolvane/http-api.md"
    "varnex         usr/bin/varnex"
    "varnex         usr/share/applications/varnex.desktop"
    "varnex         usr/share/icons/hicolor/scalable/apps/varnex.svg"
    "varnex         usr/share/man/man1/varnex.1.gz"
)
for package in "${packages[@]}"; do
    expected_files+=("$package usr/share/doc/$package/copyright"
        "$package usr/share/doc/$package/changelog.gz")
    dpkg-deb -c "${deb[$package]}" | grep -v '^d' | awk '{print $6}' | sed 's|^\./||' |
        sort >"$scratch/$package.files"
done
for row in "${expected_files[@]}"; do
    read -r package path <<<"$row"
    [ -f "$scratch/$package.files" ] || continue
    grep -qxF "$path" "$scratch/$package.files" || fail "$path is not in $package"
done
# No file in two packages, and together they hold exactly what `cmake --install` puts in place.
duplicates=$(cat "$scratch"/*.files | sort | uniq -d)
[ -z "$duplicates" ] || fail "in two packages: $duplicates"
DESTDIR=$scratch/installed "$cmake" --install "$build" --prefix /usr >/dev/null
(cd "$scratch/installed" && find . ! -type d | sed 's|^\./||' | sort) >"$scratch/installed.list"
cat "$scratch"/*.files | sort | diff - "$scratch/installed.list" >"$scratch/difference" ||
    fail "the packages and the installed tree differ (< packages only, > installed only):
$(cat "$scratch/difference")"

# Depends: a pattern each must match and one it must not (extended regular expressions).
# package        # must match                                 # must not match
dependencies=(
    "libzolvane1    # ^libc6.*libstdc\+\+6                        # libzolvane|qt"
    "libzolvane-dev # (^|, )libzolvane1 \(= $version\)(,|$)         # qt"
    "zolvane        # (^|, )libzolvane1 \(>= $version\).*libmosquitto # qt"
    "varnex         # (^|, )libzolvane1 \(>= $version\).*libqt6       # mosquitto"
)
for row in "${dependencies[@]}"; do
    IFS='#' read -r package wanted unwanted <<<"$row"
    read -r package <<<"$package"
    wanted=$(sed 's/^ *//;s/ *$//' <<<"$wanted") unwanted=${unwanted// /}
    [ -n "${deb[$package]:-}" ] || continue
    depends=$(dpkg-deb --field "${deb[$package]}" Depends)
    echo "$package Depends: $depends"
    grep -qE "$wanted" <<<"$depends" || fail "$package Depends lacks /$wanted/"
    ! grep -qiE "$unwanted" <<<"$depends" || fail "$package Depends matches /$unwanted/"
done
dpkg-deb -I "${deb[libzolvane1]}" shlibs | grep -qxF "libzolvane 1 libzolvane1 (>= $version)" ||
    fail "libzolvane1 has no shlibs entry for libzolvane.so.1"

# Installed with dpkg into a root with a database of its own, so that dpkg refuses what it would
# refuse on a real system (a file of another package, a malformed control file). Dependencies
# outside these packages (libc6, Qt) are this machine's and not in that database, and no
# maintainer script runs: the loader's cache is dpkg's trigger.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --unpack "${deb[@]}" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log"; stop "dpkg --unpack into the scratch root"; }
[ "$("$root/usr/bin/zolvane" --version)" = "zolvane $version" ] || fail "packaged zolvane --version"

# The packaged tool against the packaged emulator, over loopback.
"$root/usr/bin/projector-emulator" --port 0 >"$scratch/emulator.out" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null; wait "$emulator" 2>/dev/null || true' EXIT
for _ in $(seq 200); do
    grep -q '^ready' "$scratch/emulator.out" && break
    sleep 0.1
done
address=$(sed -n 's/^tcp //p' "$scratch/emulator.out")
[ -n "$address" ] || stop "the packaged emulator did not start"
"$root/usr/bin/zolvane" --tcp "$address" status >"$scratch/status.out" ||
    fail "packaged zolvane status: $(cat "$scratch/status.out")"
grep -qi "power" "$scratch/status.out" || fail "packaged zolvane status printed no power state"

# The service: its unit names the packaged program, and it accepts the example inventory.
grep -qx 'ExecStart=/usr/sbin/zolvaned --inventory /etc/zolvaned/inventory.toml' \
    "$root/usr/lib/systemd/system/zolvaned.service" || fail "zolvaned.service ExecStart"
examples=$root/usr/share/doc/zolvane/examples
"$root/usr/sbin/zolvaned" --check "$examples/inventory.toml" | grep -q ": ok, 3 projectors in 2 groups" ||
    fail "packaged zolvaned --check on the example inventory"

# The packaged completion, sourced as bash-completion would, completes with the packaged tool.
completed=$(PATH=$root/usr/bin:$PATH bash --norc -c "source $root/usr/share/bash-completion/completions/zolvane
    COMP_WORDS=(zolvane sta) COMP_CWORD=1 COMP_LINE='zolvane sta' COMP_POINT=11; _zolvane
    echo \"\${COMPREPLY[*]}\"")
[ "$completed" = status ] || fail "packaged bash completion of 'zolvane sta' gave '$completed'"

# Every man page is compressed and readable.
for page in "$root"/usr/share/man/man*/*; do
    [[ $page == *.gz ]] || fail "$page is not compressed"
    man -l "$page" 2>/dev/null | grep -q . || fail "man -l $page"
done
man_pages=$(find "$root/usr/share/man" -type f | wc -l)
[ "$man_pages" -eq "$([ $varnex_built = yes ] && echo 4 || echo 3)" ] ||
    fail "$man_pages man pages, not one per program"

if [ $varnex_built = yes ]; then
    QT_QPA_PLATFORM=offscreen "$root/usr/bin/varnex" --help >"$scratch/varnex-help.txt" ||
        fail "packaged varnex --help"
fi

# A program built against libzolvane-dev, with pkg-config and with find_package.
export PKG_CONFIG_PATH=$root/$lib/pkgconfig
[ "$(pkg-config --modversion zolvane)" = "$version" ] || fail "pkg-config --modversion"
# shellcheck disable=SC2046 # the flags are meant to split
"$cc" -Wall -Wextra -Werror "$consumer/consumer.c" $(pkg-config --cflags --libs zolvane) \
    -o "$scratch/with-pkg-config" && LD_LIBRARY_PATH=$root/$lib "$scratch/with-pkg-config" ||
    fail "program built with pkg-config against the package"
"$cmake" -S "$consumer" -B "$scratch/with-find-package" -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_C_COMPILER="$cc" >"$scratch/consumer.log" &&
    "$cmake" --build "$scratch/with-find-package" >>"$scratch/consumer.log" &&
    LD_LIBRARY_PATH=$root/$lib "$scratch/with-find-package/consumer" ||
    { cat "$scratch/consumer.log"; fail "program built with find_package against the package"; }

kill "$emulator" 2>/dev/null || true
wait "$emulator" 2>/dev/null || true
trap - EXIT
[ $failures -eq 0 ] || exit 1
rm -rf "$scratch"
echo "packages ${packages[*]} hold what they should, depend as they should, and run"
