#!/usr/bin/env bash
# Fails unless the release zip holds exactly the tool, the guide as text and
# the guide with pictures, and the tool is a stripped 32-bit GUI program of
# at most 400 KB, with the package's fixed time in its header, that imports
# only system DLLs. Given the inputs of release/make-zip.sh, it also makes
# the zip again, from copies with other times and permissions, and fails
# unless that zip is the same, byte for byte.
#   check-package.sh <objdump> <zip> [<strip> <VxUpgrade.exe> <README.txt> <version>]
set -euo pipefail
objdump=$1 zip=$2 strip=${3:-} tool=${4:-} readme=${5:-} version=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
status=0
fail() { echo "FAIL: $*"; status=1; }

entries=$(unzip -Z1 "$zip" | grep -v '^guide-pictures/[a-z0-9-]*\.png$' | sort | tr '\n' ' ')
[ "$entries" = "Guide.html README.txt VxUpgrade.exe " ] ||
    fail "the package holds $entries and pictures, expected Guide.html README.txt VxUpgrade.exe and pictures"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"

# Every picture the page shows is beside it and is a picture of a window or
# a box, none is left over, and the screens a run meets are all there.
page=$unpacked/Guide.html
shown=$(grep -o '<img [^>]*>' "$page" 2>/dev/null | sed -n 's/.* src="\([^"]*\)".*/\1/p' | sort -u)
for picture in $shown; do
    size=$(identify -format '%m %w %h' "$unpacked/$picture" 2>/dev/null) || { fail "Guide.html shows $picture, which is not in the package or no picture"; continue; }
    read -r format width height <<<"$size"
    [ "$format" = PNG ] && [ "$width" -ge 200 ] && [ "$width" -le 1024 ] && [ "$height" -ge 80 ] && [ "$height" -le 768 ] ||
        fail "$picture is a $format of ${width}x$height, not a window or a box"
done
for picture in $(cd "$unpacked" && ls guide-pictures/*.png 2>/dev/null); do
    grep -qx "$picture" <<<"$shown" || fail "$picture is in the package, but Guide.html does not show it"
done
grep -o '<img [^>]*>' "$page" | grep -v ' alt="[^"]\{20,\}"' | sed 's/^/FAIL: a picture without a text alternative: /' | grep . && status=1
for screen in searching not-detected choose-printer confirmation confirmation-box copying reboot-wait \
        reboot-instructions done copy-stalled stop-question no-queue missing-file held-open; do
    grep -qx "guide-pictures/$screen.png" <<<"$shown" || fail "Guide.html has no picture of the screen $screen"
done
# Readable anywhere, offline: nothing fetched, nothing run.
grep -Eino '<script|<link|<iframe|<object|@import|url\(|(src|href)="[a-z]+:' "$page" |
    sed 's/^/FAIL: Guide.html would fetch or run something: /' | grep . && status=1

if [ -n "$version" ]; then
    sources=$(dirname "$readme")
    mkdir "$unpacked/again"
    (umask 077 && cp -r "$readme" "$sources/guide-outline.txt" "$sources/guide-pictures" "$unpacked/again/")
    bash "$here/../release/make-zip.sh" "$strip" "$tool" "$unpacked/again/README.txt" "$version" "$unpacked/again.zip"
    cmp -s "$zip" "$unpacked/again.zip" || fail "a second packaging of the same inputs gives another zip"
fi
exe=$unpacked/VxUpgrade.exe
[ -f "$exe" ] || { echo "FAIL: no VxUpgrade.exe in $zip"; exit 1; }
bytes=$(stat -c %s "$exe")
echo "VxUpgrade.exe: $bytes bytes"
[ "$bytes" -le $((400 * 1024)) ] || fail "VxUpgrade.exe is $bytes bytes, more than 400 KB"
headers=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "VxUpgrade.exe is not a 32-bit program"
grep -q 'Subsystem.*Windows GUI' <<<"$headers" || fail "VxUpgrade.exe is not a GUI program"
# A build-time stamp in the header would make every build's package differ.
grep -q 'Time/Date.*Jan  1 00:00:00 2000' <<<"$headers" ||
    fail "VxUpgrade.exe carries a build time, not the package's fixed one: $(grep Time/Date <<<"$headers")"
grep -q '\.debug' <<<"$("$objdump" -h "$exe")" && fail "VxUpgrade.exe is not stripped"
bash "$here/check-imports.sh" "$objdump" "$exe" || status=1
exit $status
