#!/usr/bin/env bash
# The benchmark's arithmetic and log reading on known numbers: a wrong median
# or a ratio the wrong way round would report a goal as met that is not.
set -u
. "$(dirname "$0")/figures.sh"
failed=0
expect() {  # expect <what> <expected> <actual>
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected '$2', got '$3'"
        failed=1
    fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Medians of odd and even counts, whatever the order; none of nothing.
expect "median of five" "3 1 40" "$(printf '%s\n' 40 1 3 2 5 | summary)"
expect "median of four" "2.5 1 4" "$(printf '%s\n' 4 1 3 2 | summary)"
expect "summary of nothing" "" "$(printf '' | summary)"

# Pairs go by the order measured, not by size, and skip other series.
cat >"$work/samples" <<'SAMPLES'
tool 0.30
bare 0.20
other 9
bare 0.10
tool 0.40
SAMPLES
expect "pair ratios in measured order" "1.5 4" "$(pair_ratios "$work/samples" tool bare | tr '\n' ' ' | sed 's/ $//')"

# Seconds for 64 MB into MB/s: the fastest run is the largest throughput.
expect "throughput with its range" "128 [64-256]" "$(echo "0.5 0.25 1" | shown %.0f -64)"
expect "milliseconds" "150 [100-200]" "$(echo "0.15 0.1 0.2" | shown %.0f 1000)"
expect "thousands" "204,800 and 999" "$(thousands 204800) and $(thousands 999)"

# Goals: the limit itself meets the goal; no value is never met.
expect "at the limit" met "$(verdict 1.2 "x <= 1.2" 0)"
expect "over the limit" "not met" "$(verdict 1.21 "x <= 1.2" 0)"
expect "nothing measured" "not measured" "$(verdict "" "x <= 1.2" 0)"
expect "smoke run" "not checked (smoke run)" "$(verdict 9 "x <= 1.2" 1)"

# The waits, from logs written the way the driver writes them.
cat >"$work/retry.log" <<'LOG'
   0.123 window "Tarnell Vellumax 350-650 Firmware Upgrade Tool"
   0.124 status "Select a Printer to install FW"
   0.125 status "Searching for Tarnell Vellumax 350/650 series printer. Please connect your printer to this computer with a USB cable"
   5.150 status "A compatible printer can not be detected. Please connect your printer to this computer with a USB cable. Press Ok to continue"
   5.190 box "Error" owner=dialog "Printer not detected, please connect your printer to this computer with a USB cable. Press Ok to continue"
   6.300 status "Searching for Tarnell Vellumax 350/650 series printer. Please connect your printer to this computer with a USB cable"
  11.320 status "Firmware A.05.01 is going to be copied to VM350 connected on USB port USB001."
  11.400 PASS
LOG
expect "pause of the first search" 5.025 "$(pause_from_log "$work/retry.log")"
expect "no reboot wait without a bar" "" "$(reboot_wait_from_log "$work/retry.log")"
cat >"$work/disk.log" <<'LOG'
   5.685 ok disabled
   5.685 bar visible
   5.711 shot reboot-wait
  95.770 shot reboot-wait-halfway
 187.468 status "In order to continue with Firmware upgrade please follow the next steps:\n\n   1. Reboot printer."
 187.469 bar hidden
LOG
expect "reboot wait" 181.783 "$(reboot_wait_from_log "$work/disk.log")"

# The whole report from known samples: every goal line, each ratio the right
# way round, matching's time per call out of the time of a whole pass.
{
    for run in 1 2 3 4 5; do
        echo "startup.tool 0.13"; echo "startup.bare 0.10"
        echo "delivery.tool 0.20"; echo "delivery.direct 0.19"
        echo "detect.1000 0.004"; echo "detect.10000 0.045"
        echo "queues.200 0.00002"; echo "queues.2000 0.0003"
        echo "match.10000 0.03"; echo "match.100000 0.3"
    done
    echo "size 500000"
    echo "reboot 181.7"
    echo "pause 5.2"
} >"$work/report-samples"
bash "$(dirname "$0")/../scripts/bench.sh" --samples "$work/report-samples" >"$work/report" 2>&1 ||
    expect "exit code of the report" 0 "$?"
expect "the goal lines" "start-up: 1.30 times the bare dialog's; goal at most 1.2: not met
delivery: 0.950 of the direct copy's throughput; goal at least 0.95: met
detectPrinter: 11.2 times the time for 10 times the device records; goal at most 12: met
detectPrinter at 10,000 device records: 45 ms per call; goal at most 50 ms: met
findPrintQueues: 15.0 times the time for 10 times the queues; goal at most 12: not met
findPrintQueues at 2,000 queues: 0.3 ms per call; goal at most 50 ms: met
matchModelFamily: 10.0 times the time for 10 times the model strings; goal at most 12: met
matchModelFamily at 100,000 model strings: 0.003 ms per call; goal at most 50 ms: met
size: 500,000 bytes; goal at most 409,600 (400 KB): not met
reboot wait: 181.70 s; goal 181.8 s within 2 %: met
pause before the first search: 5.20 s; goal 5 s within 2 %: not met" "$(grep '; goal ' "$work/report")"
expect "throughputs" "runFirstStage 320 [320-320] MB/s   direct COPY /B 337 [337-337] MB/s" \
    "$(grep -o 'runFirstStage [^|]*direct COPY /B [0-9 [-]*] MB/s' "$work/report")"

[ "$failed" -eq 0 ] && echo "benchmark figures: all checks held"
exit $failed
