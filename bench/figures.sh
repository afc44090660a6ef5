# Sourced by scripts/bench.sh: turning the benchmark's samples and the
# end-to-end driver's logs into figures. Pure functions, so that they can be
# checked on known numbers (figures_test.sh).
#
# A samples file has one line per measurement: "<series> <seconds>", in the
# order measured.

# series_in <samples file> <name>: its values, in the order measured.
series_in() { awk -v name="$2" '$1 == name { print $2 }' "$1"; }

# "median min max" of numbers, one a line; nothing for none.
summary() {
    sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) exit
              m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%.9g %.9g %.9g\n", m, v[1], v[NR] }'
}

# pair_ratios <samples file> <a> <b>: the i-th value of a over the i-th of b.
# The two sides of a figure alternate run by run, so each pair was measured
# under the same load, and the ratio of a pair is steadier than the ratio of
# two medians.
pair_ratios() {
    paste -d ' ' <(series_in "$1" "$2") <(series_in "$1" "$3") |
        awk 'NF == 2 && $2 > 0 { printf "%.9g\n", $1 / $2 }'
}

# shown <printf format> <scale>: "median min max" as "<median> [<min>-<max>]",
# each multiplied by scale; a negative scale divides -scale by each instead
# (seconds into MB/s), which swaps the smallest and the largest.
shown() {
    awk -v format="$1" -v scale="$2" 'NF == 3 {
        for (i = 1; i <= 3; i++) x[i] = scale < 0 ? -scale / $i : scale * $i
        if (x[2] > x[3]) { t = x[2]; x[2] = x[3]; x[3] = t }
        printf format " [" format "-" format "]", x[1], x[2], x[3]
    }'
}

median_of() { echo "$1" | cut -d ' ' -f 1; }
thousands() { echo "$1" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta'; }

# verdict <value> <awk condition on x> <smoke 0|1>: met, not met, not
# measured (no value) or not checked (a smoke run's figures mean nothing).
verdict() {
    if [ -z "$1" ]; then
        echo "not measured"
    elif [ "$3" -eq 1 ]; then
        echo "not checked (smoke run)"
    elif awk -v x="$1" "BEGIN { exit !($2) }"; then
        echo met
    else
        echo "not met"
    fi
}

# The waits as the user meets them, in seconds, from a driver log: the pause
# from the searching text to whatever the first search shows next, and the
# reboot wait from the progress bar's appearance to the reboot instructions.
# Nothing when the log has no such span.
pause_from_log() {
    awk '/^ *[0-9.]+ status "Searching for / && !start { start = $1; next }
         start && /^ *[0-9.]+ status / { printf "%.3f\n", $1 - start; exit }' "$1"
}
reboot_wait_from_log() {
    awk '/^ *[0-9.]+ bar visible/ && !start { start = $1; next }
         start && /^ *[0-9.]+ status "In order to continue with Firmware upgrade/ {
             printf "%.3f\n", $1 - start; exit }' "$1"
}
