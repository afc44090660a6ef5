#!/usr/bin/env bash
# Makes the release package: the stripped tool and the user's guide, nothing
# else (never the stand-in device-status library).
#
#   make-zip.sh <strip> <VxUpgrade.exe> <guide> <version> <zip>
#
# The same inputs give the same zip, byte for byte: the program's header and
# both entries carry one fixed time, the entries have fixed permissions,
# come in a fixed order, and no extra fields (owner, Unix times) are stored.
set -euo pipefail
strip=$1 exe=$2 guide=$3 version=$4 zip=$5

# One fixed time for everything that records one: strip writes a fresh time
# stamp into the program's header unless SOURCE_DATE_EPOCH names one.
export SOURCE_DATE_EPOCH=946684800  # 2000-01-01 00:00:00 UTC

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
"$strip" -o "$stage/VxUpgrade.exe" "$exe"
# Windows line ends, so that every editor on Windows shows the guide right.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$guide" >"$stage/README.txt"
chmod 644 "$stage/VxUpgrade.exe" "$stage/README.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$stage/VxUpgrade.exe" "$stage/README.txt"

mkdir -p "$(dirname "$zip")"
rm -f "$zip"
# zip stores local time; one zone for everybody.
(cd "$stage" && TZ=UTC zip -q -X -D -9 "$stage/package.zip" VxUpgrade.exe README.txt)
mv "$stage/package.zip" "$zip"
