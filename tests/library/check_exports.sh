#!/bin/sh
# The shared library exports exactly the functions its header declares: no more, no fewer.
library=$1
header=$2
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
declared=$(grep -oE 'ZV_CALL ZV_[A-Za-z0-9]+\(' "$header" | sed -E 's/ZV_CALL (ZV_[A-Za-z0-9]+)\(/\1/' | sort)
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
