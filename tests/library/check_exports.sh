#!/bin/sh
# The shared library exports exactly the functions its headers declare (a header, or a folder
# of them): no more, no fewer.
library=$1
header=$2
# The functions declared in a header, or in every header of a folder.
declared_in() {
    if [ -d "$1" ]; then set -- "$1"/*.h; fi
    cat "$@" | grep -oE 'ZV_CALL (ZV|zv)_[A-Za-z0-9_]+\(' | sed -E 's/ZV_CALL ([A-Za-z0-9_]+)\(/\1/'
}
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
declared=$(declared_in "$header" | sort)
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
