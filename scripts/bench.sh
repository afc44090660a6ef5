#!/usr/bin/env bash
# Measures what the tool costs beside the work it hands to Windows, and
# prints one table and one line per goal.
#
#   bash scripts/bench.sh                builds what it needs, then measures
#   bash scripts/bench.sh --runs N       N runs of each figure (default 9, at least 5)
#   bash scripts/bench.sh --reboot-wait  when the tests left no log of the
#                                        disk-staged upgrade, runs it (about 4 min)
#   bash scripts/bench.sh --smoke        smallest sizes, one run, no goals checked
#
# These machines are shared and noisy, so every figure is a ratio of two
# things measured side by side in the same run: medians of the runs, with the
# smallest and largest. Absolute times are for information only. The exit
# code is 0 whether the goals are met or not; it is 1 only when something
# could not be measured at all. BUILD_DIR chooses the build folder (default:
# build). The test run uses --bin <folder>: measure the programs in that
# folder, in the Wine prefix and display already set up, without building.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
args=("$@")

runs=9 smoke=0 reboot_wait=0 bin= given=
usage() { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) [ $# -ge 2 ] && [ "$2" -ge 5 ] 2>/dev/null || usage; runs=$2; shift ;;
    --reboot-wait) reboot_wait=1 ;;
    --smoke) smoke=1 ;;
    --bin) [ $# -ge 2 ] || usage; bin=$2; shift ;;
    # The report alone, from a samples file (for checking the report itself).
    --samples) [ $# -ge 2 ] || usage; given=$(realpath "$2"); shift ;;
    *) usage ;;
    esac
    shift
done

# --- building, and a Wine prefix and display of the benchmark's own ----------

if [ -z "$bin" ] && [ -z "$given" ]; then
    build=${BUILD_DIR:-build}
    case "$build" in /*) ;; *) build="$root/$build" ;; esac
    bash scripts/setup.sh
    for arch in x86_64 i686; do
        cmake -S . -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
    done
    cmake --build "$build/x86_64" -j "$(nproc)" --target bench >/dev/null
    # The 32-bit tool is the one users get; its size is one of the figures.
    cmake --build "$build/i686" -j "$(nproc)" --target VxUpgrade >/dev/null
    . scripts/wine-env.sh
    wine_prepare "$build/wineprefix-bench"
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
        wineserver -p
        wine wineboot -u </dev/null >/dev/null 2>&1
        bash "$0" "$@"
        rc=$?
        wineserver -k
        exit $rc' "$root/scripts/bench.sh" --bin "$build/x86_64/bin" "${args[@]}"
fi

# --- measuring ------------------------------------------------------------------

if [ -z "$given" ]; then
    bin=$(cd "$bin" && pwd)
    build_root=$(cd "$bin/../.." && pwd)  # <build>/x86_64/bin
    [ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] || {
        echo "bench: --bin needs WINEPREFIX and DISPLAY set (run it without --bin)" >&2
        exit 2
    }
    E2E_BIN=$bin
    . tests/e2e/lib.sh
    E2E_ART=$build_root/artifacts/bench
    mkdir -p "$E2E_ART"
    : >"$E2E_ART/wine.err"
fi
. bench/figures.sh
set +e  # from here on, a failed measurement is reported and the rest goes on

if [ "$smoke" -eq 1 ]; then
    runs=1
    firmware_bytes=1000000
    sizes_detect="100 1000" sizes_queues="100 1000" sizes_match="1000 10000"
else
    firmware_bytes=64000000
    sizes_detect="1000 10000" sizes_queues="200 2000" sizes_match="10000 100000"
fi

run=$(mktemp -d "${TMPDIR:-/tmp}/vx-bench.XXXXXX")
reader=
cleanup() {
    [ -n "$reader" ] && kill -- "-$reader" 2>/dev/null
    [ -n "${fifo:-}" ] && rm -f "$fifo"
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
samples=$run/samples
: >"$samples"
broken=0
broke() { echo "bench: $*" >&2; broken=1; }
say() { [ "$smoke" -eq 1 ] || echo "bench: $*" >&2; }

# Start-up: the tool and a bare program with the same dialog template, from
# one folder of their own.
measure_startup() {
    local dir=$run/startup
    mkdir -p "$dir"
    cp "$bin/VxUpgrade.exe" "$bin/bench_bare_dialog.exe" "$dir/"
    say "start-up, $runs runs"
    e2e_wine "$bin/bench_startup.exe" "$runs" tool "$(e2e_winpath "$dir/VxUpgrade.exe")" \
        bare "$(e2e_winpath "$dir/bench_bare_dialog.exe")" >"$dir/out" ||
        { broke "start-up: $(tail -n 3 "$E2E_ART/wine.err" "$dir/out")"; return; }
    sed 's/^/startup./' "$dir/out" >>"$samples"
}

# Delivery: the share is a named pipe whose reader only counts the bytes of
# each copy, so the copies run as fast as the interpreter can send.
measure_delivery() {
    local dir=$run/delivery host=VXBENCHHOST share=BENCH$$ expected got
    mkdir -p "$dir"
    head -c "$firmware_bytes" /dev/urandom >"$dir/VX350_A.05.01.fmw"
    mkdir -p "$WINEPREFIX/dosdevices/unc/$host"
    fifo=$WINEPREFIX/dosdevices/unc/$host/$share
    rm -f "$fifo"
    mkfifo "$fifo"
    # A session of its own, so that stopping it takes its wc along.
    setsid bash -c 'while :; do wc -c <"$0" >>"$1" || exit 1; done' "$fifo" "$dir/received" \
        </dev/null >/dev/null 2>&1 &
    reader=$!
    say "delivery of $firmware_bytes bytes, $runs runs"
    (cd "$dir" && e2e_wine "$bin/bench_delivery.exe" "$runs" "$host" "$share") >"$dir/out"
    local rc=$?
    kill -- "-$reader" 2>/dev/null
    wait "$reader" 2>/dev/null
    reader=
    rm -f "$fifo"
    fifo=
    [ "$rc" -eq 0 ] || { broke "delivery: $(tail -n 3 "$E2E_ART/wine.err" "$dir/out")"; return; }
    # Every copy, the two warm-up copies too, must have arrived whole: a
    # copy that lost bytes must not pass for a fast one.
    expected=$((2 * runs + 2))
    got=$(grep -cx "$firmware_bytes" "$dir/received")
    [ "$got" -eq "$expected" ] ||
        { broke "delivery: $got of $expected copies arrived whole ($(sort "$dir/received" | uniq -c | tr '\n' ' '))"; return; }
    sed 's/^/delivery./' "$dir/out" >>"$samples"
}

# Scale: the searches at two sizes each. The stand-in library reads the
# device file the program writes beside itself, so both live in a folder of
# their own, away from the tests' device file.
measure_scale() {
    local dir=$run/scale what sizes
    mkdir -p "$dir"
    cp "$bin/bench_scale.exe" "$bin/vxprobe.dll" "$dir/"
    for what in detect queues match; do
        eval "sizes=\$sizes_$what"
        say "$what at $sizes, $runs runs"
        # shellcheck disable=SC2086
        e2e_wine "$dir/bench_scale.exe" "$runs" "$what" $sizes >"$dir/out" ||
            { broke "$what: $(tail -n 3 "$E2E_ART/wine.err" "$dir/out")"; continue; }
        cat "$dir/out" >>"$samples"
    done
}

# The released program: the one inside the release package. A smoke run
# takes the package the build already made instead of making it again.
released_exe_size() {
    local zip
    if [ "$smoke" -eq 0 ]; then
        bash scripts/package.sh >"$run/package.out" 2>&1 || return 1
    fi
    zip=$(ls -t "$build_root"/i686/package/VxUpgrade-*-win32.zip dist/VxUpgrade-*-win32.zip 2>/dev/null | head -n 1)
    [ -n "$zip" ] || return 1
    echo "$(unzip -p "$zip" VxUpgrade.exe | wc -c) in $(basename "$zip")"
}

# The tests' logs when they are there; otherwise (not in a smoke run) a short
# scenario of our own for the pause, and the disk-staged one when asked.
waits_logs=
measure_waits() {
    local logs=$build_root/artifacts/e2e own=$E2E_ART/e2e runfile=$run/e2e-run log value background=
    if [ ! -f "$logs/disk_staged_upgrade/driver.log" ] && [ "$reboot_wait" -eq 1 ] && [ "$smoke" -eq 0 ]; then
        background=disk_staged_upgrade
    fi
    if [ "$smoke" -eq 0 ] && { [ -n "$background" ] || ! ls "$logs"/*/driver.log >/dev/null 2>&1; }; then
        say "no end-to-end logs${background:+ of the disk-staged upgrade}: running the scenarios for the waits"
        E2E_BACKGROUND=$background bash tests/e2e/scenario.sh prepare "$bin" "$runfile" "$own" >"$run/e2e.out" 2>&1 &&
            bash tests/e2e/scenario.sh run standard_unshared_queue "$bin" "$runfile" "$own" >>"$run/e2e.out" 2>&1
        if [ -n "$background" ]; then
            bash tests/e2e/scenario.sh collect "$background" "$runfile" >>"$run/e2e.out" 2>&1
        fi
        E2E_BACKGROUND=$background bash tests/e2e/scenario.sh cleanup "$runfile" >>"$run/e2e.out" 2>&1
        logs=$own
    fi
    waits_logs=$logs
    for log in "$logs"/*/driver.log; do
        [ -f "$log" ] || continue
        value=$(pause_from_log "$log")
        [ -n "$value" ] && echo "pause $value" >>"$samples"
    done
    log=$logs/disk_staged_upgrade/driver.log
    [ -f "$log" ] && value=$(reboot_wait_from_log "$log") && [ -n "$value" ] && echo "reboot $value" >>"$samples"
}

if [ -n "$given" ]; then
    cp "$given" "$samples"
    size=$(series_in "$samples" size)
    [ -z "$size" ] || size="$size given"
    waits_logs=$given
else
    measure_startup
    measure_delivery
    measure_scale
    size=$(released_exe_size) || size=
    measure_waits
fi

# --- the table --------------------------------------------------------------------

series() { series_in "$samples" "$1"; }
ratios() { pair_ratios "$samples" "$1" "$2"; }

rows=()
row() { rows+=("$(printf '%-34s %-20s %-34s %s' "$1" "$2" "$3" "$4")"); }
goals=()
# goal <figure text> <goal text> <awk condition on x> <value or empty>
goal() { goals+=("$1; goal $2: $(verdict "$4" "$3" "$smoke")"); }
not_measured="not measured"

# Start-up.
ratio=$(ratios startup.tool startup.bare | summary)
tool=$(series startup.tool | summary)
bare=$(series startup.bare | summary)
if [ -n "$ratio" ]; then
    row "start-up to dialog shown" "$(echo "$ratio" | shown %.2f 1)" \
        "VxUpgrade.exe $(echo "$tool" | shown %.0f 1000) ms" "bare dialog $(echo "$bare" | shown %.0f 1000) ms"
    goal "start-up: $(median_of "$ratio" | xargs printf %.2f) times the bare dialog's" "at most 1.2" "x <= 1.2" \
        "$(median_of "$ratio")"
else
    row "start-up to dialog shown" "$not_measured" "" ""
    goal "start-up: not measured" "at most 1.2 times the bare dialog's" "" ""
fi

# Delivery: throughput is bytes over time, so the tool's share of the direct
# copy's throughput is the direct copy's time over the tool's.
mb=$(awk -v b="$firmware_bytes" 'BEGIN { print b / 1e6 }')
ratio=$(ratios delivery.direct delivery.tool | summary)
tool=$(series delivery.tool | summary)
direct=$(series delivery.direct | summary)
if [ -n "$ratio" ]; then
    row "delivery of $mb MB, throughput" "$(echo "$ratio" | shown %.3f 1)" \
        "runFirstStage $(echo "$tool" | shown %.0f "-$mb") MB/s" \
        "direct COPY /B $(echo "$direct" | shown %.0f "-$mb") MB/s"
    row "  the same beside USB 2.0" "$(echo "$tool" | shown %.1f "-$(awk -v m="$mb" 'BEGIN { print m / 60 }')")" \
        "runFirstStage $(echo "$tool" | shown %.0f "-$mb") MB/s" "480 Mbit/s high speed: 60 MB/s"
    goal "delivery: $(median_of "$ratio" | xargs printf %.3f) of the direct copy's throughput" "at least 0.95" \
        "x >= 0.95" "$(median_of "$ratio")"
else
    row "delivery of $mb MB, throughput" "$not_measured" "" ""
    goal "delivery: not measured" "at least 0.95 of the direct copy's throughput" "" ""
fi

# Scale: time per call at both sizes, and how it grows. A sample of match
# is a whole pass over the strings, so its time per call is that over the
# number of strings.
# scale_figure <series> <function> <unit> <short unit> calls|pass
scale_figure() {
    local what=$1 function=$2 unit=$3 short=$4 sizes small large ratio at_small at_large per_small=1 per_large=1
    eval "sizes=\$sizes_$what"
    read -r small large <<<"$sizes"
    [ "$5" = pass ] && per_small=$small per_large=$large
    ratio=$(ratios "$what.$large" "$what.$small" | summary)
    at_small=$(series "$what.$small" | awk -v n="$per_small" '{ print $1 / n }' | summary)
    at_large=$(series "$what.$large" | awk -v n="$per_large" '{ print $1 / n }' | summary)
    if [ -z "$ratio" ]; then
        row "$function, 10x the $short" "$not_measured" "" ""
        goal "$function: not measured" "at most 12 times the time for 10 times the $unit" "" ""
        goal "$function at $(thousands "$large") $unit: not measured" "at most 50 ms per call" "" ""
        return
    fi
    row "$function, 10x the $short" "$(echo "$ratio" | shown %.1f 1)" \
        "$(thousands "$large"): $(echo "$at_large" | shown %.3g 1000) ms per call" \
        "$(thousands "$small"): $(echo "$at_small" | shown %.3g 1000) ms"
    goal "$function: $(median_of "$ratio" | xargs printf %.1f) times the time for 10 times the $unit" "at most 12" \
        "x <= 12" "$(median_of "$ratio")"
    goal "$function at $(thousands "$large") $unit: $(median_of "$at_large" | awk '{ printf "%.3g", $1 * 1000 }') ms per call" \
        "at most 50 ms" "x <= 0.050" "$(median_of "$at_large")"
}
scale_figure detect detectPrinter "device records" records calls
scale_figure queues findPrintQueues queues queues calls
scale_figure match matchModelFamily "model strings" strings pass

# Size. 400 KB is taken as 400 KiB.
size_goal=409600
if [ -n "$size" ]; then
    bytes=${size%% *}
    row "released 32-bit .exe" "$(awk -v b="$bytes" -v g="$size_goal" 'BEGIN { printf "%.2f", b / g }')" \
        "$(thousands "$bytes") bytes" "goal 400 KB = $(thousands "$size_goal") bytes"
    rows+=("$(printf '%-34s %s' "" "(${size#* })")")
    goal "size: $(thousands "$bytes") bytes" "at most $(thousands "$size_goal") (400 KB)" "x <= $size_goal" "$bytes"
else
    row "released 32-bit .exe" "$not_measured" "(no 32-bit build)" ""
    goal "size: not measured" "at most $(thousands "$size_goal") bytes (400 KB)" "" ""
fi

# The waits, from the logs.
reboot=$(series reboot | summary)
if [ -n "$reboot" ]; then
    value=$(median_of "$reboot")
    row "reboot wait (Vellumax 650)" "$(awk -v x="$value" 'BEGIN { printf "%.3f", x / 181.8 }')" \
        "$(printf %.2f "$value") s, $(date -r "$waits_logs/disk_staged_upgrade/driver.log" '+%F %H:%M' 2>/dev/null)" "181.8 s nominal"
    goal "reboot wait: $(printf %.2f "$value") s" "181.8 s within 2 %" "x >= 181.8 * 0.98 && x <= 181.8 * 1.02" "$value"
else
    row "reboot wait (Vellumax 650)" "not measured" "(run the tests first, or --reboot-wait)" ""
    goal "reboot wait: not measured (run the tests first, or pass --reboot-wait)" "181.8 s within 2 %" "" ""
fi
pause=$(series pause | summary)
if [ -n "$pause" ]; then
    value=$(median_of "$pause")
    row "pause before the first search" "$(echo "$pause" | shown %.3f 0.2)" \
        "$(echo "$pause" | shown %.2f 1) s, $(series pause | wc -l) log(s)" "5 s nominal"
    goal "pause before the first search: $(printf %.2f "$value") s" "5 s within 2 %" "x >= 4.9 && x <= 5.1" "$value"
else
    row "pause before the first search" "not measured" "(run the tests first)" ""
    goal "pause before the first search: not measured (run the tests first)" "5 s within 2 %" "" ""
fi

echo
if [ "$smoke" -eq 1 ]; then
    echo "Benchmark smoke run (smallest sizes, one run each; the figures mean nothing)"
else
    echo "Benchmark, $(date -u '+%F %H:%M UTC'), $runs runs each: median [min-max]; the times are for information only"
fi
printf '%-34s %-20s %-34s %s\n' "figure" "ratio" "this tool" "side by side with"
printf '%s\n' "${rows[@]}"
[ -z "$reboot$pause" ] || echo "(the waits are taken from the driver logs in $waits_logs)"
echo
printf '%s\n' "${goals[@]}"

exit $broken
