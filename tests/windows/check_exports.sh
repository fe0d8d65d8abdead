#!/bin/sh
# ZOLVANE.DLL exports exactly the functions its header declares, each under its plain name (no
# stdcall @n decoration), and imports nothing but system DLLs: the compiler's runtime DLLs
# (lib*.dll) must not be needed beside it.
# Usage: check_exports.sh ZOLVANE.DLL zolvane.h [objdump]
dll=$1
header=$2
objdump=${3:-x86_64-w64-mingw32-objdump}

table=$("$objdump" -p "$dll") || exit 1
exported=$(printf '%s\n' "$table" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+([^[:space:]]+).*/\1/p' | sort)
# The header named and every public header installed beside it (zolvane_*.h).
declared=$(cat "$header" "$(dirname "$header")"/zolvane_*.h 2>/dev/null |
    grep -oE 'ZV_CALL (ZV|zv)_[A-Za-z0-9_]+\(' | sed -E 's/ZV_CALL ((ZV|zv)_[A-Za-z0-9_]+)\(/\1/' |
    sort -u)
status=0
if [ "$exported" != "$declared" ]; then
    echo "exported and declared functions differ:"
    diff -u /dev/fd/3 /dev/fd/4 3<<E1 4<<E2
$declared
E1
$exported
E2
    status=1
fi
name=$(printf '%s\n' "$table" | sed -nE 's/^Name[[:space:]]+[0-9a-fA-F]+[[:space:]]+(.*)$/\1/p')
if [ "$name" != "ZOLVANE.DLL" ]; then
    echo "the DLL calls itself '$name', not ZOLVANE.DLL"
    status=1
fi
imports=$(printf '%s\n' "$table" | sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p')
runtime=$(printf '%s\n' "$imports" | grep -iE '^lib' || true)
if [ -n "$runtime" ]; then
    echo "needs runtime DLLs beside it:" $runtime
    status=1
fi
[ $status -eq 0 ] || exit 1
echo "$(printf '%s\n' "$exported" | wc -l) functions exported by plain name, as declared;" \
    "imports only" $imports
