#!/usr/bin/env bash
# Fails when a program imports a DLL that a clean Windows does not have
# (the MinGW runtime DLLs in particular), or when its imports cannot be read:
# every program imports kernel32, so a list without it means objdump failed.
set -euo pipefail
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|shell32|comctl32|winspool\.drv|advapi32|ole32|oleaut32|msvcrt|ucrtbase|api-ms-win-.*)(\.dll)?$'
status=0
for program in "$@"; do
    if ! imports=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); then
        echo "$(basename "$program"): $objdump could not read its imports"
        status=1
        continue
    fi
    if ! printf '%s\n' "$imports" | grep -qx 'kernel32.dll'; then
        echo "$(basename "$program"): no import of kernel32.dll found, so its imports were not read"
        status=1
        continue
    fi
    bad=0
    while read -r dll; do
        if ! printf '%s\n' "$dll" | grep -Eq "$allowed"; then
            echo "$(basename "$program") imports $dll, which is not a system DLL"
            bad=1
        fi
    done <<<"$imports"
    [ $bad -eq 0 ] && echo "$(basename "$program"): system DLLs only"
    [ $bad -eq 0 ] || status=1
done
exit $status
