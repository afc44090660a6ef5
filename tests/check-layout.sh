#!/usr/bin/env bash
# The source folders' arrows only go down: base/ stands under identify/ and
# delivery/, app/ on top of them all. And no module (a .cpp with its .h)
# reaches itself again through the headers it includes, so each can be read
# and changed from its own folder downwards.
set -u
cd "${1:-$(dirname "$0")/..}"
status=0

# folder: the folders its files may include from
while read -r folder allowed; do
    bad=$(grep -Hn '#include "' "$folder"/*.cpp "$folder"/*.h 2>/dev/null |
          grep -v -E "#include \"($allowed)/")
    if [ -n "$bad" ]; then
        echo "layout: $folder/ includes from above its own level:"
        echo "$bad"
        status=1
    fi
done <<'RULES'
base base
identify base|identify
delivery base|delivery
RULES

# One edge per include between two different modules; tsort finds a loop.
edges=$(for file in base/*.[ch]* identify/*.[ch]* delivery/*.[ch]* app/*.[ch]*; do
            from=${file%.*}
            sed -n 's/^#include "\(.*\)\.h"/\1/p' "$file" | while read -r to; do
                [ "$to" != "$from" ] && echo "$from $to"
            done
        done)
if ! loops=$(printf '%s\n' "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loops" ]; then
    echo "layout: modules include each other:"
    echo "$loops"
    status=1
fi
[ $status = 0 ] && echo "layout: every include goes down, and no module includes itself again"
exit $status
