#!/usr/bin/env bash
# Fails unless the release zip holds exactly the tool and the guide, and the
# tool is a stripped 32-bit GUI program of at most 400 KB, with the package's
# fixed time in its header, that imports only system DLLs.
set -euo pipefail
objdump=$1 zip=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
fail() { echo "FAIL: $*"; status=1; }

entries=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$entries" = "README.txt VxUpgrade.exe " ] || fail "the package holds $entries, expected README.txt VxUpgrade.exe"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" VxUpgrade.exe -d "$unpacked" || { echo "FAIL: no VxUpgrade.exe in $zip"; exit 1; }
exe=$unpacked/VxUpgrade.exe
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
