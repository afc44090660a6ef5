#!/usr/bin/env bash
# The project's choice of Wine loader (scripts/wine-env.sh), with stand-ins
# for the 32-bit loader: one that cannot execute, as on a kernel without
# 32-bit support, must still let a 64-bit Windows program start; one that
# runs must leave the choice to Debian's wine. Needs WINEPREFIX (the test
# run's prefix).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/wine-env.sh"
wrapper=$wine_env_dir/wine64
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# PATH as it was before any choice of ours.
clean_path=$(printf '%s' "$PATH" | tr ':' '\n' | grep -vx "$wrapper" | paste -sd: -)
stand_ins=$(mktemp -d)
trap 'rm -rf "$stand_ins"' EXIT
# An ELF header for no machine this kernel runs: "Exec format error".
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$stand_ins/broken"
printf '#!/bin/sh\necho wine-8.0\n' >"$stand_ins/working"
chmod +x "$stand_ins/broken" "$stand_ins/working"

PATH=$clean_path
wine_choose_loader "$stand_ins/broken"
[ "$(command -v wine)" = "$wrapper/wine" ] || fail "a 32-bit loader that cannot execute left wine as $(command -v wine)"
[ "$(command -v wine-stable)" = "$wrapper/wine-stable" ] || fail "wineboot and the other tools would still use $(command -v wine-stable)"
[ -n "$wine_32bit_problem" ] || fail "nothing says why 32-bit programs cannot run"
rc=0
timeout 120 wine cmd /c exit 42 </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 42 ] || fail "a 64-bit Windows program did not run through the chosen loader (exit code $rc, expected 42)"

PATH=$clean_path
wine_choose_loader "$stand_ins/working"
[ "$PATH" = "$clean_path" ] || fail "a working 32-bit loader changed PATH to $PATH"
[ -z "$wine_32bit_problem" ] || fail "a working 32-bit loader was reported: $wine_32bit_problem"

[ $failed -eq 0 ] && echo "the loader choice holds"
exit $failed
