#!/usr/bin/env bash
# Fails when a program imports a DLL that is not a KnownDLL, or when its
# imports cannot be read: every program imports kernel32, so a list without
# it means objdump failed.
#
# Windows maps a KnownDLL from its own list; every other DLL in an import
# table is looked for in the program's folder first, before any of the
# program's code runs, so a DLL left there (the tool is started from folders
# such as Downloads) would be loaded in its place: the MinGW runtime DLLs,
# comctl32 and winspool.drv among them. ucrtbase and the api-ms-win-* sets
# are missing from Windows 7 without an update. The list holds the KnownDLLs
# of Windows 7 that later versions kept.
set -euo pipefail
objdump=$1; shift
allowed='^(advapi32|comdlg32|gdi32|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shell32|shlwapi|user32|wldap32|ws2_32)\.dll$'
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
            echo "$(basename "$program") imports $dll, which is not a KnownDLL"
            bad=1
        fi
    done <<<"$imports"
    [ $bad -eq 0 ] && echo "$(basename "$program"): KnownDLLs only"
    [ $bad -eq 0 ] || status=1
done
exit $status
