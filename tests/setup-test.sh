#!/usr/bin/env bash
# scripts/setup.sh's decisions, against stand-in apt-get, dpkg, dpkg-query,
# id and sleep on PATH and a stand-in for its 32-bit kernel check: what it
# asks apt for, in which order, what it says and how it ends. No network.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export W=$work
mkdir "$work/bin"
# State: "absent" lists the packages not installed, "broken" those apt
# refuses, "fails" how many updates still fail; "calls" records the
# actions, simulated installs left out.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/bash
if [ "$1" = update ]; then
    echo update >>"$W/calls"
    n=$(cat "$W/fails"); [ "$n" -gt 0 ] || exit 0; echo $((n - 1)) >"$W/fails"
    echo "E: Failed to fetch http://deb.example/sec/binary-i386/Packages.xz  File has unexpected size (3 != 4). Mirror sync in progress? [IP: 1.2.3.4 80]"
    exit 100
fi
pkgs=$(printf '%s\n' "$@" | grep -v -e '^-' -e '^install$')
[[ " $* " = *" -s "* ]] || echo "install:$pkgs" | paste -sd' ' >>"$W/calls"
bad=$(grep -Fx "$pkgs" "$W/broken") && { echo "E: $bad is held broken"; exit 100; }
grep -Fvx "$pkgs" "$W/absent" >"$W/left"; [[ " $* " = *" -s "* ]] || mv "$W/left" "$W/absent"
EOF
printf '#!/bin/sh\ngrep -qFx "$3" "$W/absent" || printf "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\n[ "$1" = --add-architecture ] && echo "arch:$2" >>"$W/calls"; exit 0\n' >"$work/bin/dpkg"
printf '#!/bin/sh\ncat "$W/uid"\n' >"$work/bin/id"
printf '#!/bin/sh\necho sleep >>"$W/calls"\n' >"$work/bin/sleep"
printf '#!/bin/sh\nexit 42\n' >"$work/bits32"
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$work/bits64"
chmod +x "$work"/bin/* "$work/bits32" "$work/bits64"

failed=0
# name | kernel | uid | failing updates | absent | broken | refusal noted (reason@when) |
# exit | calls | said: grep -E on the lines joined by " / " (! = must not match)
note=$work/build/setup/wine32-not-installed
mkdir -p "$work/build/setup"
while IFS='|' read -r name kernel uid fails absent broken noted rc calls said; do
    rm -f "$note"; [ -z "$noted" ] || { echo "${noted%@*}" >"$note"; touch -d "${noted#*@}" "$note"; }
    printf '%s\n' $absent >"$work/absent"; printf '%s\n' "$broken" >"$work/broken"
    echo "$fails" >"$work/fails"; echo "$uid" >"$work/uid"; : >"$work/calls"; got=0
    out=$(PATH="$work/bin:$PATH" BUILD_DIR="$work/build" SETUP_32BIT_CHECK="$work/$kernel" \
        bash "$here/../scripts/setup.sh" 2>&1) || got=$?
    [ -f "$note" ] && out+=$'\nnote: '$(cat "$note")
    out=$(paste -sd'~' <<<"$out" | sed 's/~/ \/ /g')
    did=$(paste -sd' ' "$work/calls")
    [ "$got" = "$rc" ] || { echo "FAIL: $name: exit code $got, expected $rc"; failed=1; }
    [ "$did" = "$calls" ] || { echo "FAIL: $name: did \"$did\", expected \"$calls\""; failed=1; }
    case $said in
    !*) ! grep -qE "${said#!}" <<<"$out" ;;
    *) grep -qE "$said" <<<"$out" ;;
    esac || { echo "FAIL: $name: said \"$out\", against /$said/"; failed=1; }
done <<'EOF'
a list out of step|bits64|0|2|cmake wine32:i386|||0|update sleep update install:cmake|^setup: leaving out wine32:i386: this machine's kernel cannot run 32-bit programs \(Exec format error, exit code 126\) / setup: apt-get update could not read http://deb.example/sec/binary-i386/Packages.xz \(File has unexpected size \(3 != 4\)\. Mirror sync in progress\?\); going on with the lists it has / setup: installing cmake$
a 64-bit package refused|bits64|0|0|cmake zip|cmake||1|update install:cmake zip|cannot install cmake \(cmake is held broken\)$
wine32 refused|bits32|0|0|zip wine32:i386|wine32:i386||0|arch:i386 update install:zip install:wine32:i386|wine32:i386 could not be installed \(wine32:i386 is held broken\); going on.*note: wine32:i386 is held broken
wine32 refused within the hour|bits32|0|0|wine32:i386|wine32:i386|held@now|0||^ / note: held$
wine32 installed|bits32|0|0|wine32:i386||held@2 hours ago|0|arch:i386 update install:wine32:i386|!could not|note
nothing to do where 32-bit cannot run|bits64|0|0|wine32:i386||held@now|0||!.
not root, a 64-bit package missing|bits32|1000|0|cmake wine32:i386|||1||missing packages: cmake wine32:i386; run this script as root
not root, only wine32 missing|bits32|1000|0|wine32:i386|||0||wine32:i386 could not be installed \(set-up is not running as root\)
EOF
[ $failed -eq 0 ] && echo "setup: every decision as expected"
exit $failed
