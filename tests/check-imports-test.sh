#!/usr/bin/env bash
# check-imports.sh on import lists that a stand-in objdump reports: KnownDLLs
# pass; any other DLL, and a list it could not have read, fail.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Called as "<objdump> -p <program>"; the program file lists its DLLs.
printf '#!/bin/sh\nsed "s/^/\\tDLL Name: /" "$2"\n' >"$work/objdump"
chmod +x "$work/objdump"

failed=0
expect() {
    local verdict=$1 name=$2 rc=0
    shift 2
    printf '%s\n' "$@" >"$work/$name"
    bash "$here/check-imports.sh" "$work/objdump" "$work/$name" >/dev/null || rc=1
    if [ "$verdict" = pass ] && [ $rc -ne 0 ] || [ "$verdict" = fail ] && [ $rc -eq 0 ]; then
        echo "FAIL: $name ($*) should $verdict"
        failed=1
    fi
}
expect pass known-dlls KERNEL32.dll USER32.dll msvcrt.dll SHELL32.dll ole32.dll ADVAPI32.dll GDI32.dll
expect fail comctl32 KERNEL32.dll COMCTL32.DLL
expect fail winspool KERNEL32.dll WINSPOOL.DRV
expect fail ucrtbase KERNEL32.dll ucrtbase.dll
expect fail api-set KERNEL32.dll api-ms-win-crt-runtime-l1-1-0.dll
expect fail mingw-runtime KERNEL32.dll libwinpthread-1.dll
expect fail unread USER32.dll
[ $failed -eq 0 ] && echo "check-imports: every verdict as expected"
exit $failed
