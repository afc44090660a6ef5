#!/usr/bin/env bash
# The printer's end of a share: reads the named pipe that stands for
# \\<computer>\<share> and keeps each job (one open-write-close by the
# command interpreter's COPY) as its own file, job-1.bin, job-2.bin, ... in
# the order they arrive. Beside each job, job-N.state holds the queue's shared
# attribute as it was while that job was being received.
#
#   recorder.sh <fifo> <job folder> <queue> <e2e_spool.exe> [stall seconds]
#
# With a stall the printer takes that long after the first byte of each job
# before it reads the rest, so the tool's copy runs at least that long.
# Runs until it is killed. WINEPREFIX and the other Wine settings come from
# the caller.
set -u
fifo=$1 jobs=$2 queue=$3 spool=$4 stall=${5:-0}
mkdir -p "$jobs"
n=0
while :; do
    # Opening blocks until the tool's copy opens the share for writing.
    exec 3<"$fifo" || exit 1
    n=$((n + 1))
    job="$jobs/job-$n.bin"
    # Take one byte, then look at the queue: the writer cannot finish while
    # the rest waits in the pipe, so the state read is the one during this
    # copy.
    dd bs=1 count=1 <&3 of="$job" status=none
    wine "$spool" state "$queue" </dev/null >"$jobs/job-$n.raw" 2>&1
    tr -d '\r' <"$jobs/job-$n.raw" >"$jobs/job-$n.state"
    sleep "$stall"
    cat <&3 >>"$job"
    exec 3<&-
    echo "$n" >"$jobs/count"
done
