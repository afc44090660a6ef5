#!/usr/bin/env bash
# Fails when a program imports a DLL that a clean Windows does not have
# (the MinGW runtime DLLs in particular).
set -euo pipefail
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|shell32|comctl32|winspool\.drv|advapi32|ole32|oleaut32|msvcrt|ucrtbase|api-ms-win-.*)(\.dll)?$'
status=0
for program in "$@"; do
    while read -r dll; do
        if ! printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$(basename "$program") imports $dll, which is not a system DLL"
            status=1
        fi
    done < <("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p')
    [ $status -eq 0 ] && echo "$(basename "$program"): system DLLs only"
done
exit $status
