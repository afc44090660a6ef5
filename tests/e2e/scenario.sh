#!/usr/bin/env bash
# End-to-end scenarios: the built tool upgrades a simulated printer under
# Wine and is driven through its window as a person would.
#
#   scenario.sh prepare <bin folder> <run file> <artifact root>
#       makes this run's template in a temporary folder, whose path goes into
#       <run file>, and starts the long scenarios in the background; with
#       E2E_PACKAGE set to a release zip, every scenario of the run uses the
#       VxUpgrade.exe taken out of it instead of the one in <bin folder>
#   scenario.sh run <name> <bin folder> <run file> <artifact root>
#   scenario.sh collect <name> <run file>   the result of a background scenario
#   scenario.sh cleanup <run file>          stops what still runs and removes
#                                           the run's folder
#   scenario.sh list                        the scenario names
#   scenario.sh pictures <artifact root> <guide pictures folder> [update]
#       the guide's pictures against those this run's scenarios took: each
#       must have been taken and match (the progress bar left out), where
#       they can match at all (else exit 77 and one line why); with update,
#       the pictures taken replace the guide's, and versions.txt beside them
#       records the packages that drew them
#
# A scenario leaves its driver log, screenshots and checks in
# <artifact root>/<name>/ and exits 0 when every check held; the pictures
# for the guide in <artifact root>/<name>/pictures/.
set -u
here=$(cd "$(dirname "$0")" && pwd)

# The guide's pictures must not depend on the machine that takes them. The
# details before the confirmation name this computer, which Wine takes from
# the host name, and group the file sizes as the locale does: every scenario
# runs under one host name, in a UTS namespace of its own where this machine
# allows one, and one locale.
E2E_HOST=printroom
export LC_ALL=C.UTF-8
if [ -z "${E2E_IN_NAMESPACE:-}" ] && unshare --uts true 2>/dev/null; then
    export E2E_IN_NAMESPACE=1
    exec unshare --uts bash -c 'hostname "$0" && exec bash "$@"' "$E2E_HOST" "$here/scenario.sh" "$@"
fi
. "$here/lib.sh"

# Starts the tool, plays the script, and waits for the tool to end.
play() {
    local script="$E2E_DIR/script.txt" said
    cat >"$script"
    e2e_start_tool
    if ! e2e_drive "$script"; then
        e2e_fail "the driver stopped: $(grep FAIL "$E2E_ART/driver.log" 2>/dev/null || cat "$E2E_ART/driver.out")"
    fi
    e2e_wait_tool 30
    # A tool Wine could not start says so only in its output.
    said=$(tr -d '\r' <"$E2E_ART/tool.out" | grep -v '^$' | tail -n 3 | tr '\n' ' ')
    [ "$E2E_TOOL_EXIT" = 0 ] ||
        e2e_fail "the tool ended with exit code $E2E_TOOL_EXIT, expected 0${said:+; its output: $said}"
}

no_jobs() {
    local got
    got=$(find "$E2E_DIR/jobs" -name 'job-*.bin' | wc -l)
    echo "jobs received: $got" >>"$E2E_ART/checks.txt"
    [ "$got" -eq 0 ] || e2e_fail "the printer received $got jobs, expected none"
}

# The driver's line that has another program (cmd.exe's COPY /Y) overwrite
# the firmware file $1 with other bytes and expects exit code $2: 1 while
# the tool holds the file, 0 once it has let go of it.
overwrite_firmware() {
    local cmd='C:\windows\system32\cmd.exe' file other
    head -c 777777 /dev/zero >"$E2E_DIR/work/other.bin"
    file=$(e2e_winpath "$E2E_DIR/work/$1")
    other=$(e2e_winpath "$E2E_DIR/work/other.bin")
    # The driver's strings take a backslash as an escape.
    echo "program \"${cmd//\\/\\\\} /C COPY /Y ${other//\\/\\\\} ${file//\\/\\\\}\" $2 20"
}

# A Tarnell Vellumax 350 on an unshared queue, with every firmware file; a
# printer that stalls this many seconds on each job, when given.
setup_vellumax_350() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350" "${1:-0}"
    e2e_expect_queue "Vellumax 350" unshared before
}

# A Vellumax 650 on an unshared queue, with the given firmware files (all
# of them when none are named).
setup_vellumax_650() {
    e2e_queue "Vellumax 650" USB001 VM650 unshared
    e2e_device_file "$(device 'Vellumax 650' USB001)"
    if [ $# -gt 0 ]; then
        e2e_firmware "$@"
    else
        e2e_firmware "${E2E_FIRMWARE[@]}"
    fi
    e2e_printer_end VM650 "Vellumax 650"
    e2e_expect_queue "Vellumax 650" unshared before
}

# The steps from the start until the confirmation box for that printer (a
# 650's when no queue and share are named).
until_confirmation() {
    cat <<EOF
window 20
status "$T1" 10
maybe-status "$(found "${1:-Vellumax 650}" USB001)" 20
status "$(t4 "${2:-VM650}" USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
EOF
}

# For a 350 (or the queue and share given) whose printer stalls: on, after
# Ok, until the copy has not ended for a minute and Escape has asked whether
# to stop it.
until_stop_question() {
    until_confirmation "${1:-Vellumax 350}" "${2:-VM350}"
    cat <<EOF
answer ok
status "$T6" 30
status "$T6$STALL_LINE" 75
shot stalled
${pictured:+picture copy-stalled window}
press escape
box "Confirmation" "The copy to the printer has not finished for a minute.\\nStop the upgrade? The printer may then have received part of a firmware file." dialog 10
${pictured:+picture stop-question box}
EOF
}

# ... and on, after Ok, until the disk file has been sent and the reboot
# wait runs with the queue shared.
until_reboot_wait() {
    until_confirmation
    cat <<EOF
answer ok
maybe-status "$T6" 30
status "$T6B" 30
bar visible 60
ok disabled
queue "Vellumax 650" shared
EOF
}

# --- the scenarios -----------------------------------------------------------

# A Tarnell Vellumax 350 on an unshared queue: shared for the copy, one job,
# unshared again at the end.
scenario_standard_unshared_queue() {
    setup_vellumax_350
    play <<EOF
window 20
status "$T1" 10
shot searching
maybe-status "$(found "Vellumax 350" USB001)" 20
status "$(t4 VM350 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
queue "Vellumax 350" unshared
shot confirmation
picture confirmation window
picture confirmation-box box
answer ok
status "$T6" 30
status "$T7" 60
ok enabled
bar hidden
shot done
picture done window
press ok
gone 30
EOF
    e2e_expect_jobs VM350 VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350" unshared after
}

# A plot-language model on a queue that is shared already: three files in
# order, and the sharing is left alone.
scenario_plot_language_shared_queue() {
    e2e_queue "Vellumax 350 plus" USB001 PLOT350 shared
    e2e_device_file "$(device 'Tarnell Vellumax 350 plus' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end PLOT350 "Vellumax 350 plus"
    e2e_expect_queue "Vellumax 350 plus" shared before
    play <<EOF
window 20
status "$T1" 10
maybe-status "$(found "Vellumax 350 plus" USB001)" 20
status "$(t4 PLOT350 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
queue "Vellumax 350 plus" shared
shot confirmation
answer ok
status "$T6" 30
status "$T7" 60
queue "Vellumax 350 plus" shared
shot done
press ok
gone 30
EOF
    e2e_expect_jobs PLOT350 VX355KPLOT_A.04.02.fmw VX350KPLOT_A.04.02.fmw VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350 plus" shared after
}

# A Vellumax 650: the disk file, the real reboot wait (101 ticks of 1.8 s)
# with Ok disabled, the instructions, then the two remaining files.
scenario_disk_staged_upgrade() {
    setup_vellumax_650
    play <<EOF
$(until_reboot_wait)
shot reboot-wait
wait 90
ok disabled
bar visible
shot reboot-wait-halfway
picture reboot-wait window
status "$T8" 150
reboot-wait 176 192
ok enabled
bar hidden
queue "Vellumax 650" shared
shot reboot-instructions
picture reboot-instructions window
press enter
status "$T7" 60
detail ""
queue "Vellumax 650" unshared
shot done
press ok
gone 30
EOF
    e2e_expect_jobs VM650 VX650DISK_A.04.02.fmw VX650PS_A.04.02.fmw VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 650" unshared after
}

# No printer at first: the not-detected box; the printer is plugged in
# (the device file changes) and Ok searches again and finds it.
scenario_no_printer_then_retry() {
    e2e_queue "Vellumax 350" USB001 VM350 shared
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    e2e_expect_queue "Vellumax 350" shared before
    play <<EOF
window 20
status "$T1" 10
status "$T2" 20
box "Error" "$NOT_DETECTED" dialog 10
queue "Vellumax 350" shared
shot not-detected
file vxprobe.txt "$(device 'Tarnell Vellumax 350' USB001)"
answer ok
status "$T1" 10
maybe-status "$(found "Vellumax 350" USB001)" 20
status "$(t4 VM350 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
answer ok
status "$T6" 30
status "$T7" 60
press ok
gone 30
EOF
    e2e_expect_jobs VM350 VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350" shared after
}

# No printer, and the user gives up: the tool ends and touches nothing.
scenario_no_printer_cancel() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    e2e_expect_queue "Vellumax 350" unshared before
    play <<EOF
window 20
status "$T1" 10
picture searching window
status "$T2" 20
box "Error" "$NOT_DETECTED" dialog 10
queue "Vellumax 350" unshared
shot not-detected
picture not-detected box
answer cancel
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# The printer is on a port that no queue drives: T3, the no-queue box, the
# end; the queue on the other port is not touched.
scenario_no_queue_on_port() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB002)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    e2e_expect_queue "Vellumax 350" unshared before
    play <<EOF
window 20
status "$T1" 10
status "$T3" 20
box "Error" "$NO_QUEUE" dialog 10
queue "Vellumax 350" unshared
shot no-queue
picture no-queue box
answer ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# The user declines the confirmation: T5, nothing shared or sent, Ok ends.
scenario_user_declines() {
    setup_vellumax_650
    play <<EOF
$(until_confirmation)
queue "Vellumax 650" unshared
answer cancel
status "$T5" 10
ok enabled
queue "Vellumax 650" unshared
$(overwrite_firmware VX650DISK_A.04.02.fmw 0)
shot declined
press ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 650" unshared after
}

# The printer is found but the upgrade cannot be done: the error box comes
# before the confirmation, with the status text naming what was found, and
# the tool ends with nothing shared or sent. Like every box of the tool
# while its window is open, the box is owned by that window. The commonest
# refusals are pictured in the guide (a fourth argument, the picture's name).
refused_before_confirmation() {
    local queue=$1 text=$2 shot=$3 picture=${4:-}
    play <<EOF
window 20
status "$T1" 10
status "$(found "$queue" USB001)" 20
box "Firmware Upgrade Error" "$text\\nFirmware upgrade cancelled." dialog 30
queue "$queue" unshared
shot $shot
${picture:+picture $picture box}
answer ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "$queue" unshared after
}

# A file of the second stage is missing: found out before anything is shared
# or sent, so the printer is not left half upgraded.
scenario_firmware_file_missing() {
    setup_vellumax_650 VX350_A.05.01.fmw VX650DISK_A.04.02.fmw
    refused_before_confirmation "Vellumax 650" \
        "Firmware file VX650PS_A.04.02.fmw was not found in the tool's folder." missing-file missing-file
}

# An empty firmware file would go out as an empty job and the upgrade would
# be reported as done.
scenario_empty_firmware_file() {
    setup_vellumax_650
    : >"$E2E_DIR/work/VX650DISK_A.04.02.fmw"
    refused_before_confirmation "Vellumax 650" "Firmware file VX650DISK_A.04.02.fmw is empty." empty-file
}

# A queue that was never shared usually has no share name; the tool says
# what to do instead of asking first and then refusing an empty name.
scenario_queue_without_share_name() {
    e2e_queue "Vellumax 350" USB001 "" unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_expect_queue "Vellumax 350" unshared before
    refused_before_confirmation "Vellumax 350" \
        "The printer Vellumax 350 has no share name.\\nGive it a share name in the printer's properties (Sharing), then start the upgrade again." \
        no-share-name
}

# A queue left set to Use Printer Offline would keep the firmware for good,
# with the tool waiting on it: refused before anything is shared or sent.
scenario_queue_used_offline() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared offline
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    e2e_expect_queue "Vellumax 350" unshared before
    refused_before_confirmation "Vellumax 350" \
        "The print queue Vellumax 350 is set to Use Printer Offline, so it would keep the firmware instead of sending it to the printer.\\nTurn off \\\"Use Printer Offline\\\" in the queue's Printer menu, then start the upgrade again." \
        offline
}

# No device library beside the tool: the not-detected box names it and
# Windows' reason; Cancel ends the tool with nothing touched.
scenario_library_missing() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    rm -f "$E2E_DIR/tool/vxprobe.dll"
    play <<EOF
window 20
status "$T1" 10
status "$T2" 20
box "Error" "$NOT_DETECTED\\n\\n$LIBRARY_MISSING" dialog 10
shot library-missing
answer cancel
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# The firmware folder is often Downloads, where anyone can leave a DLL: one
# there, with a printer behind it, must not be loaded in place of the
# missing one beside the tool.
scenario_library_in_current_folder_only() {
    cp "$E2E_BIN/vxprobe.dll" "$E2E_DIR/work/"
    printf '%b' "$(device 'Tarnell Vellumax 350' USB001)" >"$E2E_DIR/work/vxprobe.txt"
    scenario_library_missing
}

# Windows looks beside a program first for every DLL that is not a KnownDLL,
# and Wine does so for the names given native-first overrides. A
# comctl32.dll and a winspool.drv left beside the tool (copies of another
# DLL, which would keep it from starting) must never be loaded: the tool
# upgrades as usual, and Wine's load trace names the system folder's copies
# of both.
scenario_planted_dlls_beside_tool() {
    local dll loads
    for dll in comctl32.dll winspool.drv; do cp "$E2E_BIN/vxprobe.dll" "$E2E_DIR/tool/$dll"; done
    E2E_TOOL_ENV="WINEDEBUG=+loaddll WINEDLLOVERRIDES=mscoree,mshtml=;comctl32,winspool.drv=n,b"
    scenario_standard_unshared_queue
    E2E_TOOL_ENV=
    loads=$(grep -aiE 'Loaded .*(comctl32\.dll|winspool\.drv)' "$E2E_ART/tool.out")
    printf 'loads of comctl32 and winspool.drv:\n%s\n' "$loads" >>"$E2E_ART/checks.txt"
    for dll in comctl32.dll winspool.drv; do
        grep -qiF "$dll" <<<"$loads" || e2e_fail "the load trace shows no $dll at all"
        ! grep -iE "tool\\\\+$dll" <<<"$loads" || e2e_fail "the tool loaded the $dll planted beside it"
    done
}

# Escape during the reboot wait: the queue the tool shared is unshared
# before the window goes away, and the second stage never runs.
scenario_escape_during_reboot_wait() {
    setup_vellumax_650
    play_escape_during_reboot_wait
}

play_escape_during_reboot_wait() {
    play <<EOF
$(until_reboot_wait)
wait 4
shot reboot-wait
press escape
gone 30
queue "Vellumax 650" unshared
EOF
    e2e_expect_jobs VM650 VX650DISK_A.04.02.fmw
    e2e_expect_queue "Vellumax 650" unshared after
}

# A Vellumax 350 whose printer takes its time: during the pause before the
# search and during the copy the window answers at once, as Windows asks of a
# window it is not to mark "Not Responding".
scenario_window_answers_while_busy() {
    setup_vellumax_350 5
    play <<EOF
window 20
status "$T1" 10
wait 1
responsive
maybe-status "$(found "Vellumax 350" USB001)" 20
status "$(t4 VM350 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
answer ok
status "$T6" 30
wait 1
responsive
shot copying
picture copying window
status "$T7" 60
press ok
gone 30
EOF
    e2e_expect_jobs VM350 VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350" unshared after
}

# A click on the greyed-out Ok while the firmware is being copied is not
# acted on, then or later: the final text stays on screen until the user
# clicks again.
scenario_click_during_copy_is_not_replayed() {
    setup_vellumax_350 4
    play <<EOF
$(until_confirmation "Vellumax 350" VM350)
answer ok
status "$T6" 30
wait 1
press ok-greyed
status "$T7" 60
wait 2
ok enabled
shot done
press ok
gone 30
EOF
    e2e_expect_jobs VM350 VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350" unshared after
}

# A second tool started while the first waits for the user's confirmation
# changes nothing and ends at once; the first goes on as if alone.
scenario_second_instance_changes_nothing() {
    # The driver's strings take a backslash as an escape.
    local tool
    tool=$(e2e_winpath "$E2E_DIR/tool/VxUpgrade.exe")
    tool=${tool//\\/\\\\}
    setup_vellumax_350
    play <<EOF
$(until_confirmation "Vellumax 350" VM350)
program "$tool" 0 20
queue "Vellumax 350" unshared
answer cancel
status "$T5" 10
press ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# Two queues on the printer's port, neither shared: the one the user is
# asked about, the one shared and unshared and the one that receives the
# firmware are the same queue, the last one the spooler lists.
scenario_two_queues_on_port() {
    e2e_queue "Vellumax 350 A" USB001 FIRSTQ unshared
    e2e_queue "Vellumax 350 B" USB001 SECONDQ unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    local last last_share other other_share
    last=$(e2e_wine "$E2E_BIN/e2e_spool.exe" list | grep '|USB001|' | tail -n 1)
    last_share=$(echo "$last" | cut -d'|' -f3)
    last=$(echo "$last" | cut -d'|' -f1)
    if [ "$last" = "Vellumax 350 A" ]; then
        other="Vellumax 350 B" other_share=SECONDQ
    else
        other="Vellumax 350 A" other_share=FIRSTQ
    fi
    echo "the spooler lists $last last" >>"$E2E_ART/checks.txt"
    e2e_expect_queue "$last" unshared before
    e2e_expect_queue "$other" unshared before
    e2e_printer_end "$last_share" "$last"
    e2e_printer_end "$other_share" "$other"
    play <<EOF
window 20
status "$T1" 10
maybe-status "$(found "$last" USB001)" 20
status "$(t4 "$last_share" USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
queue "$last" unshared
shot confirmation
answer ok
status "$T6" 30
status "$T7" 60
queue "$last" unshared
queue "$other" unshared
press ok
gone 30
EOF
    e2e_expect_jobs "$last_share" VX350_A.05.01.fmw
    e2e_expect_jobs "$other_share"
    e2e_expect_queue "$last" unshared after
    e2e_expect_queue "$other" unshared after
}

# The device library takes its time, and the user presses Enter twice
# meanwhile: the confirmation box must wait for an answer given while it is
# shown, not take the keys typed before it.
scenario_enter_typed_during_a_slow_search() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    e2e_device_file "delay 4000\n$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    play <<EOF
window 20
status "$T1" 10
wait 6
press enter
press enter
maybe-status "$(found "Vellumax 350" USB001)" 20
status "$(t4 VM350 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
wait 2
queue "Vellumax 350" unshared
shot still-asking
answer cancel
status "$T5" 10
press ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# An Ok that reaches a 650's window while its confirmation box is open (UI
# automation sends such clicks) must not start the second stage.
scenario_ok_posted_during_confirmation_sends_nothing() {
    setup_vellumax_650
    play <<EOF
$(until_confirmation)
post ok
wait 3
queue "Vellumax 650" unshared
answer cancel
status "$T5" 10
press ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "Vellumax 650" unshared after
}

# The printer stops taking data for good: after a minute Escape offers to
# stop, and yes ends the copy's interpreter, takes the stall's line away,
# unshares the queue and says what to do. Wine's spooler cannot list a queue's jobs (EnumJobsW fails), so
# the tool cannot know that no partial file is left and tells the user to
# look in the queue's window.
scenario_stalled_copy_can_be_stopped() {
    # The guide's pictures of the stall and the stop question come from this
    # scenario alone (until_stop_question takes them when pictured is set),
    # so that they keep showing this printer and its one file.
    local pictured=1
    setup_vellumax_350 3600
    play <<EOF
$(until_stop_question)
answer yes
box "Firmware Upgrade Error" "The firmware upgrade has been stopped.\\nThe printer may have received part of a firmware file.\\nThe print queue Vellumax 350 may still hold the rest of it: delete that document in the queue's window before you switch the printer off and on. Switch the printer off and on again, then run the upgrade again.\\nFile cut short: VX350_A.05.01.fmw." dialog 10
status "$STOPPED" 10
queue "Vellumax 350" unshared
answer ok
gone 20
no-process cmd.exe
EOF
    e2e_expect_queue "Vellumax 350" unshared after
}

# A 650 whose printer takes the disk file slowly (70 s): the stall line comes
# after a minute and goes with the copy, so the reboot wait shows the
# disk-file text alone, and Escape there ends the tool as the reboot wait
# says, without asking about a copy that has ended.
scenario_stall_ends_with_its_copy() {
    e2e_queue "Vellumax 650" USB001 VM650 unshared
    e2e_device_file "$(device 'Vellumax 650' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM650 "Vellumax 650" 70
    play <<EOF
$(until_confirmation)
answer ok
maybe-status "$T6" 30
status "$T6B" 30
status "$T6B$STALL_LINE" 75
shot stalled
status "$T6B" 30
bar visible 10
ok disabled
shot reboot-wait
press escape
gone 30
EOF
    e2e_expect_jobs VM650 VX650DISK_A.04.02.fmw
    e2e_expect_queue "Vellumax 650" unshared after
}

# The one-upgrade lock is held, but no window of the tool can be found: the
# tool of another user's session. The second start says so and ends with
# nothing changed.
scenario_second_start_in_another_session() {
    setup_vellumax_350
    e2e_hold hold-lock 60
    play <<EOF
box "Information" "A firmware upgrade is already running in another session on this computer.\\nThis one cannot start until it ends." none 20
queue "Vellumax 350" unshared
shot other-session
answer ok
EOF
    no_jobs
    e2e_expect_queue "Vellumax 350" unshared after
}

# A 350 on USB001, with its own queue (shared already) and a pool that
# prints to USB001 and USB002 ("VX ZPool", listed after it), and a 650 on
# USB003 without a queue. The tool asks which one, with neither chosen for
# the user. The 650's line says why it cannot be upgraded: clicking it,
# double-clicking it and Ok leave the list open. Real clicks on the first
# line and on Ok then upgrade the 350 alone, with its own firmware, through
# its own queue, and the details say so before the confirmation; the pool
# receives nothing and stays unshared.
scenario_two_printers_one_without_a_queue() {
    e2e_queue "VX Q1" USB001 VXQ1 shared
    e2e_queue "VX ZPool" USB001,USB002 ZPOOL unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)$(device 'Vellumax 650' USB003)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VXQ1 "VX Q1"
    e2e_printer_end ZPOOL "VX ZPool"
    e2e_expect_queue "VX ZPool" unshared before
    play <<EOF
window 20
status "$T1" 10
box "Select a Printer" "" dialog 20
list "Tarnell Vellumax 350 on USB port USB001, print queue VX Q1" "Vellumax 650 on USB port USB003, no print queue installed"
shot choice
picture choose-printer box
choose 2 refused
choose 1
maybe-status "$(found "VX Q1" USB001)" 20
status "$(t4 VXQ1 USB001)" 20
box "Confirmation" "$CONFIRM" dialog 10
detail "$(details "Tarnell Vellumax 350" USB001 "VX Q1" VXQ1 VX350_A.05.01.fmw 3,145,805)"
queue "VX ZPool" unshared
shot confirmation
answer ok
status "$T6" 30
status "$T7" 60
queue "VX ZPool" unshared
press ok
gone 30
EOF
    e2e_expect_jobs VXQ1 VX350_A.05.01.fmw
    e2e_expect_jobs ZPOOL
    e2e_expect_queue "VX Q1" shared after
    e2e_expect_queue "VX ZPool" unshared after
}

# Only a pool prints to the printer's port: the tool names it and says that
# firmware cannot go through a pool, before anything is shared; nothing is
# sent and the pool stays unshared.
scenario_only_a_pool_on_the_port() {
    e2e_queue "VX ZPool" USB001,USB002 ZPOOL unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end ZPOOL "VX ZPool"
    e2e_expect_queue "VX ZPool" unshared before
    play <<EOF
window 20
status "$T1" 10
status "The printer firmware hasn't been updated" 20
box "Error" "$POOL_ONLY" dialog 10
queue "VX ZPool" unshared
shot pool
answer ok
gone 20
EOF
    no_jobs
    e2e_expect_queue "VX ZPool" unshared after
}

# The library reports a 650 on USB001 and after it a 350 without a port:
# the 650's queue gets the 650's disk file first, not the 350's firmware.
# Escape in the reboot wait ends the run there.
scenario_portless_350_after_a_650() {
    setup_vellumax_650
    e2e_device_file "$(device 'Vellumax 650' USB001)device\nrecord Tarnell Vellumax 350\n"
    play_escape_during_reboot_wait
}

# A device library that loads a DLL of its own, beside it, by name while it
# searches finds the printer; the upgrade goes on as usual.
scenario_library_loads_its_helper_by_name() {
    cp "$E2E_DIR/tool/vxprobe.dll" "$E2E_DIR/tool/vxhelper.dll"
    E2E_DEVICE_PREFIX='helper vxhelper.dll\n' scenario_standard_unshared_queue
}

# A firmware file that another program holds open (a download still being
# written) is named before the confirmation; nothing is shared or sent.
scenario_firmware_file_held_open() {
    setup_vellumax_350
    e2e_hold hold "$(e2e_winpath "$E2E_DIR/work/VX350_A.05.01.fmw")"
    refused_before_confirmation "Vellumax 350" \
        "Firmware file VX350_A.05.01.fmw is open in another program, so it cannot be sent.\\nClose that program, or wait until the download of the file has finished, then start the upgrade again." \
        held-open held-open
}

# While the confirmation is open another user shares the queue, and another
# program tries to overwrite the firmware file (cmd.exe's COPY /Y) and to
# delete it: both are refused while the tool holds the file, the printer
# gets exactly the bytes that were there when the details were shown, and
# the sharing, not the tool's, stays after the run and after the tool.
scenario_others_during_confirmation() {
    local spool firmware
    spool=$(e2e_winpath "$E2E_BIN/e2e_spool.exe")
    firmware=$(e2e_winpath "$E2E_DIR/work/VX350_A.05.01.fmw")
    # The driver's strings take a backslash as an escape.
    spool=${spool//\\/\\\\} firmware=${firmware//\\/\\\\}
    setup_vellumax_350
    play <<EOF
$(until_confirmation "Vellumax 350" VM350)
program "$spool share \"Vellumax 350\"" 0 20
$(overwrite_firmware VX350_A.05.01.fmw 1)
program "$spool remove $firmware" 32 20
queue "Vellumax 350" shared
answer ok
status "$T6" 30
status "$T7" 60
queue "Vellumax 350" shared
press ok
gone 30
EOF
    e2e_expect_jobs VM350 VX350_A.05.01.fmw
    e2e_expect_queue "Vellumax 350" shared after
}

# A plot-language printer whose first copy stalls goes through while the
# question whether to stop is open: the yes that follows stops at that file.
# The printer gets it whole and nothing more, and the box says which files
# were not sent.
scenario_late_stop_after_the_copy_went_through() {
    e2e_queue "Vellumax 350 plus" USB001 PLOT350 unshared
    e2e_device_file "$(device 'Tarnell Vellumax 350 plus' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end PLOT350 "Vellumax 350 plus" 70
    play <<EOF
$(until_stop_question "Vellumax 350 plus" PLOT350)
wait 20
no-process cmd.exe
answer yes
box "Firmware Upgrade Error" "The firmware upgrade has been stopped.\\nFiles sent whole to the print queue: VX355KPLOT_A.04.02.fmw.\\nFiles not sent: VX350KPLOT_A.04.02.fmw, VX350_A.05.01.fmw.\\nThe upgrade is not complete: run it again to finish it." dialog 10
status "$STOPPED" 10
queue "Vellumax 350 plus" unshared
shot stopped-between-files
answer ok
gone 30
EOF
    e2e_expect_jobs PLOT350 VX355KPLOT_A.04.02.fmw
    e2e_expect_queue "Vellumax 350 plus" unshared after
}

# The harness itself: a run that differs from what the script expects must
# fail, or every scenario above could pass without looking.
scenario_harness_notices_a_wrong_run() {
    e2e_queue "Vellumax 350" USB001 VM350 unshared
    # A set-up step that fails says which step, the error and its meaning,
    # and is not tried again: the program ran and answered.
    local said
    said=$( (e2e_queue "Vellumax 350 B" USB001 VM350B half-shared) 2>&1)
    grep -q 'cannot add queue Vellumax 350 B: e2e_spool: the sharing argument (shared|unshared) failed with error 87 ([^)]' <<<"$said" &&
        ! grep -q attempt <<<"$said" || e2e_fail "a wrong queue set-up did not fail once with its cause: $said"
    # A program that fails without a word, as one Wine cannot start does, is
    # tried three times, each attempt in the log.
    said=$( (e2e_wine cmd /c exit 7) 2>&1)
    [ "$(grep -c 'cmd /c exit 7: attempt [1-3] of 3 said nothing and ended with exit code 7' <<<"$said")" = 3 ] ||
        e2e_fail "a silent failure was not tried three times: $said"
    e2e_device_file "$(device 'Tarnell Vellumax 350' USB001)"
    e2e_firmware "${E2E_FIRMWARE[@]}"
    e2e_printer_end VM350 "Vellumax 350"
    cat >"$E2E_DIR/script.txt" <<EOF
$(until_confirmation "Vellumax 350" VM350)
answer cancel
status "$T7" 10
press ok
gone 20
EOF
    e2e_start_tool
    if e2e_drive "$E2E_DIR/script.txt"; then
        e2e_fail "the driver accepted a final text that was never shown"
    elif ! grep -q 'FAIL expected status "Firmware files have been successfully.*but saw "Firmware update has been cancelled' \
            "$E2E_ART/driver.log"; then
        e2e_fail "the driver failed, but not on the wrong text: $(grep FAIL "$E2E_ART/driver.log")"
    fi
    # Nothing was sent: expecting a job must fail.
    if (E2E_FAILED=0; e2e_expect_jobs VM350 VX350_A.05.01.fmw 2>/dev/null; [ "$E2E_FAILED" -eq 0 ]); then
        e2e_fail "a job that never arrived was not noticed"
    fi
}

# --- the guide's pictures ------------------------------------------------------

# same_picture <guide's copy> <taken>: the same size and pixels, outside the
# progress bar when the taken one has a mask; a picture of the differences
# goes beside the taken one.
same_picture() {
    local expected=$1 taken=$2 mask=${2%.png}.mask size_e size_t a=$2.a.png b=$2.b.png differ
    size_e=$(identify -format '%wx%h' "$expected" 2>/dev/null)
    size_t=$(identify -format '%wx%h' "$taken" 2>/dev/null)
    if [ -z "$size_t" ] || [ "$size_e" != "$size_t" ]; then
        echo "is ${size_t:-no picture}, the guide's ${size_e:-no picture}"
        return 1
    fi
    if [ -f "$mask" ]; then
        convert "$expected" -fill black -draw "rectangle $(cat "$mask")" "$a"
        convert "$taken" -fill black -draw "rectangle $(cat "$mask")" "$b"
    else
        cp "$expected" "$a"
        cp "$taken" "$b"
    fi
    differ=$(compare -metric AE "$a" "$b" "${taken%.png}-differences.png" 2>&1)
    rm -f "$a" "$b"
    [ "$differ" = 0 ] && { rm -f "${taken%.png}-differences.png"; return 0; }
    echo "differs from the guide's in $differ pixels (see ${taken%.png}-differences.png)"
    return 1
}

# The pictures this run took can match the guide's pixel for pixel only where
# they were drawn as the guide's were: under the host name the guide's show
# (Wine names the computer after it), and by the same Wine and fonts, since a
# point release of either moves pixels with no change to the tool.
# scripts/guide-pictures.sh records those packages' versions in versions.txt
# beside the pictures. Each check sets why when it fails.
taken_under_the_guides_name() {
    local computer
    computer=$(cat "$1/computer" 2>/dev/null)
    [ "$computer" = "${E2E_HOST^^}" ] && return 0
    why="the scenarios ran on computer '${computer:-unknown}', not ${E2E_HOST^^} (no UTS namespace here?), so their pictures show another name"
    return 1
}

# Wine, its fonts and what renders them: a point release of any of them moves
# pixels.
picture_packages="wine wine64 libwine:amd64 fonts-wine libfreetype6:amd64 libfontconfig1:amd64 fontconfig-config fonts-dejavu-core"

installed_version() {
    local here
    here=$(dpkg-query -W -f='${Status} ${Version}' "$1" 2>/dev/null)
    case $here in "install ok installed "*) echo "${here#install ok installed }" ;; *) echo "not installed" ;; esac
}

drawn_by_the_guides_packages() {
    local name recorded here differ=
    while read -r name recorded; do
        case $name in "" | "#"*) continue ;; esac
        here=$(installed_version "$name")
        [ "$here" = "$recorded" ] || differ+="${differ:+; }$name $here here, $recorded in the guide's"
    done <"$1/versions.txt"
    [ -z "$differ" ] && return 0
    why="other packages drew them ($differ)"
    return 1
}

pictures() {
    local art=$1 guide=$2 update=${3:-} status=0 taken name copy why
    local skipped=$art/pictures-not-compared.txt
    rm -f "$skipped"
    if [ -z "$update" ] && [ ! -f "$guide/versions.txt" ]; then
        echo "FAIL: $guide/versions.txt is missing: take the pictures again with scripts/guide-pictures.sh"
        return 1
    fi
    # New pictures are taken from this machine's packages, but never under
    # another name.
    if ! taken_under_the_guides_name "$art" || { [ -z "$update" ] && ! drawn_by_the_guides_packages "$guide"; }; then
        echo "pictures: ${update:+took none and }compared nothing: $why; the pictures this run took are in $art/*/pictures/" | tee "$skipped"
        return 77
    fi
    declare -A copies=()
    for taken in "$art"/*/pictures/*.png; do
        [ -f "$taken" ] || continue
        case "$taken" in *-differences.png) continue ;; esac
        name=${taken##*/}
        copies[$name]+="$taken"$'\n'
    done
    for name in "${!copies[@]}"; do
        if [ -n "$update" ]; then
            copy=$(head -n 1 <<<"${copies[$name]}")
            cp "$copy" "$guide/$name"
            echo "took $name from ${copy#"$art"/}"
        elif [ ! -f "$guide/$name" ]; then
            echo "FAIL: $name was taken, but the guide has no such picture"
            status=1
            continue
        fi
        while read -r taken; do
            [ -n "$taken" ] || continue
            why=$(same_picture "$guide/$name" "$taken") ||
                { echo "FAIL: $name as ${taken#"$art"/} $why"; status=1; }
        done <<<"${copies[$name]}"
    done
    for taken in "$guide"/*.png; do
        name=${taken##*/}
        [ -n "${copies[$name]:-}" ] || { echo "FAIL: no scenario took $name"; status=1; }
    done
    if [ -n "$update" ]; then
        for name in $picture_packages; do echo "$name $(installed_version "$name")"; done >"$guide/versions.txt"
    fi
    [ $status -eq 0 ] && echo "pictures: the ${#copies[@]} pictures of the guide show the tool as this run saw it"
    return $status
}

# --- commands ----------------------------------------------------------------

scenarios() { declare -F | sed -n 's/^declare -f scenario_//p'; }
# The scenarios that mostly wait run beside the others, each on its own
# display and prefix (tests/e2e/CMakeLists.txt collects them by these names).
# E2E_BACKGROUND= (empty) runs none in the background.
background=${E2E_BACKGROUND-disk_staged_upgrade stalled_copy_can_be_stopped stall_ends_with_its_copy late_stop_after_the_copy_went_through}

# All in one function, called on the script's last line: bash reads a script
# as it runs, and this way nothing after the call is read later.
main() {
    case "${1:-}" in
    list)
        scenarios
        ;;
    prepare)
        E2E_BIN=$2
        run=$(mktemp -d "${TMPDIR:-/tmp}/vx-e2e.XXXXXX")
        echo "$run" >"$3"
        e2e_say "making the template prefix in $run"
        e2e_make_template "$run/template" || { echo "FAIL: cannot make the template prefix" >&2; exit 1; }
        e2e_say "template ready; the computer is $(cat "$run/template/computer")"
        # The guide's pictures of this run alone, and the name they show.
        mkdir -p "$4"
        rm -rf "$4"/*/pictures
        cp "$run/template/computer" "$4/computer"
        if [ -n "${E2E_PACKAGE:-}" ]; then
            unzip -q -o -j "$E2E_PACKAGE" VxUpgrade.exe -d "$run/shipped" && [ -f "$run/shipped/VxUpgrade.exe" ] ||
                { echo "FAIL: no VxUpgrade.exe in $E2E_PACKAGE" >&2; exit 1; }
            e2e_say "the scenarios run VxUpgrade.exe from $E2E_PACKAGE"
        fi
        # The disk-staged upgrade waits the printer's real reboot time, about
        # three minutes, and the stalled copies a minute each.
        for name in $background; do
            setsid bash -c 'bash "$0" run "$1" "$2" "$3" "$4" >"$5.log" 2>&1; echo $? >"$5.rc"' \
                "$0" "$name" "$E2E_BIN" "$3" "$4" "$run/$name" </dev/null >/dev/null 2>&1 &
            echo $! >"$run/$name.pid"
            e2e_say "started $name in the background"
        done
        ;;
    collect)
        name=$2
        run=$(cat "$3")
        for i in $(seq 4000); do
            [ -f "$run/$name.rc" ] && break
            sleep 0.1
        done
        cat "$run/$name.log" 2>/dev/null
        [ -f "$run/$name.rc" ] || { echo "FAIL: $name did not finish in time" >&2; exit 1; }
        exit "$(cat "$run/$name.rc")"
        ;;
    pictures)
        pictures "$2" "$3" "${4:-}"
        exit $?
        ;;
    cleanup)
        [ -f "$2" ] || exit 0
        run=$(cat "$2")
        for name in $background; do
            pid=$(cat "$run/$name.pid" 2>/dev/null) || continue
            if kill -0 "$pid" 2>/dev/null; then
                e2e_say "stopping $name, which is still running"
                kill -TERM -- "-$pid" 2>/dev/null
                for i in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            fi
        done
        rm -rf "$run" "$2"
        exit 0
        ;;
    run)
        name=$2
        E2E_BIN=$3
        declare -F "scenario_$name" >/dev/null || { echo "no scenario $name" >&2; exit 2; }
        [ -f "$4" ] && [ -d "$(cat "$4")/template" ] || { echo "no template: run 'prepare' first" >&2; exit 2; }
        run=$(cat "$4")
        [ ! -f "$run/shipped/VxUpgrade.exe" ] || E2E_TOOL=$run/shipped/VxUpgrade.exe
        e2e_say "scenario $name${E2E_TOOL:+ (with $E2E_TOOL)}"
        e2e_begin "$run/template" "$run/$name" "$5/$name"
        trap 'e2e_end; rm -rf "$E2E_DIR"; exit 3' INT TERM
        "scenario_$name"
        e2e_end
        echo "--- driver log ($E2E_ART/driver.log)"
        cat "$E2E_ART/driver.log" 2>/dev/null
        echo "--- checks"
        cat "$E2E_ART/checks.txt" 2>/dev/null
        rm -rf "$E2E_DIR"
        if [ "$E2E_FAILED" -ne 0 ]; then
            e2e_say "scenario $name FAILED"
            exit 1
        fi
        e2e_say "scenario $name passed; screenshots in $E2E_ART"
        ;;
    *)
        sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
    esac
}

main "$@"; exit $?
