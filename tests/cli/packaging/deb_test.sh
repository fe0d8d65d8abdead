#!/usr/bin/env bash
# Builds the Debian package with CPack, unpacks it into a scratch root (dpkg -x: no change to
# this machine) and runs the programs from it: zolvane against the packaged emulator, and
# varnex --help when the package holds it.
# Arguments: build dir, scratch dir, cpack, version.
set -euo pipefail
build=$1 scratch=$2 cpack=$3 version=$4

fail() { echo "FAILED: $*" >&2; exit 1; }
rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/packages" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
deb=$(find "$scratch/packages" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || fail "no .deb was made"

[ "$(dpkg-deb --field "$deb" Package)" = zolvane ] || fail "package name"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libc6* ]] || fail "Depends lacks libc6"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/zolvane usr/bin/projector-emulator usr/include/zolvane.h \
    usr/include/zolvane_catalogue.h \
    usr/share/man/man1/zolvane.1; do
    [ -e "$root/$file" ] || fail "$file is not in the package"
done
find "$root/usr" -name 'libzolvane.so.1' | grep -q . || fail "libzolvane.so.1 is not in the package"
find "$root/usr" -name 'zolvane.pc' | grep -q . || fail "zolvane.pc is not in the package"

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
[ -n "$address" ] || fail "the packaged emulator did not start"
[ "$("$root/usr/bin/zolvane" --tcp "$address" get power)" = 1 ] || fail "packaged zolvane get power"

if [ -e "$root/usr/sbin/zolvaned" ]; then
    # The fleet service: its unit names the packaged program, and the program reads an inventory.
    grep -qx 'ExecStart=/usr/sbin/zolvaned --inventory /etc/zolvaned/inventory.toml' \
        "$root/usr/lib/systemd/system/zolvaned.service" || fail "zolvaned.service ExecStart"
    [ -e "$root/usr/share/man/man8/zolvaned.8" ] || fail "zolvaned.8 is not in the package"
    printf '[[projector]]\nname = "a"\naddress = "tcp://%s"\n' "$address" >"$scratch/inventory.toml"
    [ "$("$root/usr/sbin/zolvaned" --check "$scratch/inventory.toml")" = \
        "$scratch/inventory.toml: ok, 1 projectors in 0 groups" ] || fail "packaged zolvaned --check"
    echo "zolvaned --check ran from the package"
fi

if [ -e "$root/usr/bin/varnex" ]; then
    QT_QPA_PLATFORM=offscreen "$root/usr/bin/varnex" --help >"$scratch/varnex-help.txt" ||
        fail "packaged varnex --help"
    echo "varnex --help ran from the package"
fi

kill "$emulator" 2>/dev/null || true
wait "$emulator" 2>/dev/null || true
trap - EXIT
rm -rf "$scratch"
echo "package $(basename "$deb") unpacks and runs"
