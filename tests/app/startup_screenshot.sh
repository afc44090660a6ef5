#!/usr/bin/env bash
# Starts the built tool under Wine in the current display with no printer
# attached. It must show its window, search, and after the first attempt show
# the not-detected box; a screenshot of that is kept for a person to look at.
# Cancel in the box must then end the tool by itself, with exit code 0.
#   startup_screenshot.sh <VxUpgrade.exe> <vxprobe.dll> <driver.exe> <shot.png>
set -u
tool=$1 probe=$2 driver=$3 shot=$4
caption="Tarnell Vellumax 350-650 Firmware Upgrade Tool"

fail() { echo "startup: $*" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no X display; run the tests through scripts/test.sh"

# A folder of its own: the tool and its device library but no device file,
# so that no printer is found whatever other tests leave in the build folder.
work=$(mktemp -d)
pid=
program_settings=
cleanup() {
    # Only the tool started here is ended; the Wine server is shared with the
    # test runner and stays.
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && kill "$pid"
    [ -n "$program_settings" ] && wine reg delete "$program_settings" /f >/dev/null 2>&1 </dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp "$tool" "$probe" "$work/"
mkdir -p "$(dirname "$shot")"
rm -f "$shot"

# The test display has no window manager, so Wine must draw the caption and
# frame itself: the tool's windows are made unmanaged for the time of this
# test (a per-program setting of this prefix, removed again below).
program_settings='HKCU\Software\Wine\AppDefaults\VxUpgrade.exe'
wine reg add "$program_settings\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null

cd "$work"
wine ./VxUpgrade.exe &
pid=$!

wine "$driver" wait "$caption" 60 || fail "the window \"$caption\" did not appear"
# The first attempt comes 5 s after the window; the box follows it.
wine "$driver" wait Error 60 || fail "the not-detected box did not appear"
sleep 1  # the dialog repaints behind the box
import -window root "$shot" || fail "no screenshot"
echo "startup: screenshot in $shot"

wine "$driver" press Error 2 || fail "could not answer the box with Cancel"
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the tool did not end after Cancel"
wait "$pid"
rc=$?
pid=
[ "$rc" -eq 0 ] || fail "the tool ended with exit code $rc"
echo "startup: the tool ended with exit code 0"
