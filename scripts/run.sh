#!/usr/bin/env bash
# Builds the tool and runs it under Wine on a simulated Tarnell Vellumax 350,
# from the search to the final message, then shows what the printer received.
#
#   bash scripts/run.sh            the run plays itself (works without a screen)
#   bash scripts/run.sh --manual   you click through it yourself (needs $DISPLAY)
#
# The window shows on $DISPLAY when it is set, otherwise on a virtual screen
# (Xvfb). The played run keeps a screenshot of each step. BUILD_DIR chooses
# the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

manual=0
case "${1:-}" in
"") ;;
--manual)
    manual=1
    if [ -z "${DISPLAY:-}" ]; then
        echo "run: --manual needs a screen: set DISPLAY, or leave --manual off" >&2
        exit 2
    fi
    ;;
*)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac

step() { printf '\n== %s\n' "$*"; }

step "Building the tool (64-bit, the build that runs here under Wine) into $build/x86_64"
bash scripts/setup.sh --run
cmake -S . -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$(nproc)" --target VxUpgrade vxprobe e2e_spool e2e_driver >/dev/null
echo "built $build/x86_64/bin/VxUpgrade.exe"

E2E_BIN="$build/x86_64/bin"
. tests/e2e/lib.sh
set +e  # from here on, failures are collected and reported at the end

run=$(mktemp -d "${TMPDIR:-/tmp}/vx-run.XXXXXX")
artifacts="$build/artifacts/run"
cleanup() {
    [ -n "${E2E_DIR:-}" ] && e2e_end >/dev/null 2>&1
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "Making a fresh Wine prefix for this run (about 20 s)"
e2e_make_template "$run/template" || { echo "run: the Wine prefix could not be made" >&2; exit 1; }
echo "prefix in $run; Wine calls this computer $(cat "$run/template/computer")"

[ -n "${DISPLAY:-}" ] && E2E_USE_DISPLAY=1
e2e_begin "$run/template" "$run/demo" "$artifacts"
queue="Tarnell Vellumax 350"
share=VM350
e2e_queue "$queue" USB001 "$share" unshared
e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
e2e_firmware VX350_A.05.01.fmw
e2e_printer_end "$share" "$queue"

step "The simulated printer"
cat <<EOF
printer   a "Tarnell Vellumax 350" on USB port USB001, as the stand-in device-status
          library vxprobe.dll reports it (from vxprobe.txt beside the tool)
queue     "$queue" on port USB001, share name $share, $(e2e_queue_state "$queue")
share     \\\\$E2E_COMPUTER\\$share: a named pipe in the Wine prefix; each copy the
          printer receives is kept as its own file, in order
firmware  VX350_A.05.01.fmw, $(stat -c %s "$E2E_DIR/work/VX350_A.05.01.fmw") random bytes (not real firmware), in the
          folder the tool is started from
EOF

if [ -n "${E2E_USE_DISPLAY:-}" ]; then
    step "Running VxUpgrade.exe under Wine on your display $DISPLAY"
else
    step "Running VxUpgrade.exe under Wine on a virtual screen (Xvfb $DISPLAY)"
fi
e2e_start_tool
if [ "$manual" -eq 1 ]; then
    echo "The tool's window is on your screen: answer its questions and press Ok"
    echo "until it closes. (It searches for 5 s before it finds the printer.)"
    while kill -0 "$E2E_TOOL_PID" 2>/dev/null; do sleep 1; done
    e2e_wait_tool 1
else
    # A person watching gets a moment to read each message.
    pause=0
    [ -n "${E2E_USE_DISPLAY:-}" ] && pause=2
    echo "A scripted user answers the tool, reading each message as it appears."
    script="$E2E_DIR/demo-script.txt"
    cat >"$script" <<EOF
window 20
status "$T1" 10
shot searching
maybe-status "$(found "$queue" USB001)" 20
status "$(t4 "$share" USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
queue "$queue" unshared
shot confirmation
wait $pause
answer ok
status "$T6" 30
status "$T7" 60
ok enabled
shot done
wait $pause
press ok
gone 30
EOF
    e2e_drive "$script" || e2e_fail "the tool did not behave as expected: $(grep FAIL "$E2E_ART/driver.log" 2>/dev/null)"
    e2e_wait_tool 30
fi
[ "$E2E_TOOL_EXIT" = 0 ] || e2e_fail "the tool ended with exit code $E2E_TOOL_EXIT"

if [ -f "$E2E_ART/driver.log" ]; then
    step "What the user saw (seconds since the start; \\n is a line break)"
    sed -e '/ PASS$/d' \
        -e 's/^ *\([0-9.]*\) window "\(.*\)"$/\1s  the window "\2" opens/' \
        -e 's/^ *\([0-9.]*\) window gone$/\1s  the window closes/' \
        -e 's/^ *\([0-9.]*\) status /\1s  status text: /' \
        -e 's/^ *\([0-9.]*\) box \("[^"]*"\) owner=[a-z]* /\1s  message box \2: /' \
        -e 's/^ *\([0-9.]*\) answer \(.*\)$/\1s  the user answers \2/' \
        -e 's/^ *\([0-9.]*\) press \(.*\)$/\1s  the user presses \2/' \
        -e 's/^ *\([0-9.]*\) ok \(.*\)$/\1s  the Ok button is \2/' \
        -e 's/^ *\([0-9.]*\) queue \(.*\) \([a-z]*\)$/\1s  (the print queue "\2" is \3)/' \
        -e 's/^ *\([0-9.]*\) shot \(.*\)$/\1s  (screenshot \2)/' \
        -e 's/^ *\([0-9.]*\) /\1s  /' "$E2E_ART/driver.log"
fi

step "What the printer received"
mkdir -p "$artifacts/received"
n=0
for job in "$E2E_DIR/jobs/$share"/job-*.bin; do
    [ -f "$job" ] || continue
    n=$((n + 1))
    cp "$job" "$artifacts/received/"
    if cmp -s "$job" "$E2E_DIR/work/VX350_A.05.01.fmw"; then
        match="identical to VX350_A.05.01.fmw"
    else
        match="DIFFERENT from VX350_A.05.01.fmw"
        e2e_fail "job $n differs from the firmware file"
    fi
    echo "job $n: $(stat -c %s "$job") bytes, $match; the queue was $(cat "${job%.bin}.state") while it arrived"
done
[ "$manual" -eq 1 ] || [ "$n" -eq 1 ] || e2e_fail "the printer received $n jobs, expected 1"
after=$(e2e_queue_state "$queue")
echo "queue \"$queue\" after the run: $after"
[ "$manual" -eq 1 ] || [ "$after" = unshared ] || e2e_fail "the queue was left $after"
echo "tool exit code: $E2E_TOOL_EXIT"

e2e_end
E2E_DIR=

step "Kept in $artifacts"
ls -1 "$artifacts"/*.png 2>/dev/null || echo "(no screenshots)"
echo "received/ holds the jobs as the printer got them; driver.log the run above."

if [ "$E2E_FAILED" -ne 0 ]; then
    step "Something went wrong: see the FAIL lines above"
    exit 1
fi
step "Done: the firmware reached the printer byte for byte and the queue is unshared again"
