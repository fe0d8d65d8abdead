#!/bin/sh
# The shared library exports exactly the functions its headers declare: no more, no fewer.
library=$1
header=$2
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
# The header named and every public header installed beside it (zolvane_*.h).
declared=$(cat "$header" "$(dirname "$header")"/zolvane_*.h 2>/dev/null |
    grep -oE 'ZV_CALL (ZV|zv)_[A-Za-z0-9_]+\(' | sed -E 's/ZV_CALL ((ZV|zv)_[A-Za-z0-9_]+)\(/\1/' |
    sort -u)
if [ "$exported" != "$declared" ]; then
    echo "exported and declared functions differ:"
    diff -u /dev/fd/3 /dev/fd/4 3<<E1 4<<E2
$declared
E1
$exported
E2
    exit 1
fi
echo "$(echo "$exported" | wc -l) functions exported, as declared"
