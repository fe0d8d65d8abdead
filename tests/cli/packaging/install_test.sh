#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, checks that every part is in place, and builds
# a C program against the installed library twice: with pkg-config and with find_package.
# Arguments: build dir, scratch dir, consumer source dir, cmake, C compiler, version.
set -euo pipefail
build=$1 scratch=$2 consumer=$3 cmake=$4 cc=$5 version=$6

rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log"

fail() { echo "FAILED: $*" >&2; exit 1; }
library=$(find "$prefix" -name libzolvane.so.1 -print -quit)
[ -n "$library" ] || fail "libzolvane.so.1 not installed"
libdir=$(dirname "$library")
[ -L "$libdir/libzolvane.so" ] || fail "no libzolvane.so link for the linker"
[ -L "$libdir/libzolvane.so.1" ] || fail "libzolvane.so.1 is not a link to the versioned file"
[ -f "$(readlink -f "$libdir/libzolvane.so.1")" ] || fail "the soname link is dangling"
for file in include/zolvane.h include/zolvane_catalogue.h bin/zolvane bin/projector-emulator \
    share/man/man1/zolvane.1.gz; do
    [ -e "$prefix/$file" ] || fail "$file not installed"
done
[ -f "$libdir/pkgconfig/zolvane.pc" ] || fail "zolvane.pc not installed"
[ -f "$libdir/cmake/Zolvane/ZolvaneConfig.cmake" ] || fail "CMake package not installed"

# The installed tool finds the installed library by itself.
[ "$("$prefix/bin/zolvane" --version)" = "zolvane $version" ] || fail "zolvane --version"
"$prefix/bin/zolvane" frame get power | grep -qx "BE EF 03 06 00 19 D3 02 00 00 60 00 00" ||
    fail "installed zolvane frame get power"

export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion zolvane)" = "$version" ] || fail "pkg-config --modversion"
# shellcheck disable=SC2046 # the flags are meant to split
"$cc" -Wall -Wextra -Werror "$consumer/consumer.c" $(pkg-config --cflags --libs zolvane) \
    -o "$scratch/with-pkg-config"
LD_LIBRARY_PATH=$libdir "$scratch/with-pkg-config" || fail "program built with pkg-config"

"$cmake" -S "$consumer" -B "$scratch/with-find-package" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" >"$scratch/consumer-configure.log" ||
    { cat "$scratch/consumer-configure.log"; fail "find_package(Zolvane)"; }
"$cmake" --build "$scratch/with-find-package" >"$scratch/consumer-build.log" ||
    { cat "$scratch/consumer-build.log"; fail "building against Zolvane::zolvane"; }
"$scratch/with-find-package/consumer" || fail "program built with find_package"

rm -rf "$scratch"
echo "installed tree, pkg-config and find_package all work"
