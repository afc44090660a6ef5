# Sourced by the end-to-end scenarios and by scripts/run.sh: a simulated
# printer for the upgrade tool in a Wine prefix of its own.
#
# A run makes one template (e2e_make_template): a booted prefix with the
# spooler's test driver, Wine's own desktop window, and the generated firmware
# files. Each scenario copies it (e2e_begin), so every scenario starts from a
# fresh prefix with its own wineserver and its own X display, sets up its
# queues, device file and printer end, runs the tool and the driver, checks
# what the printer received, and tears everything down again (e2e_end).
#
# The caller sets E2E_BIN: the folder with VxUpgrade.exe, vxprobe.dll,
# e2e_spool.exe and e2e_driver.exe (the build's bin folder), and may set
# E2E_TOOL to run another VxUpgrade.exe (the one taken out of the package).

E2E_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_FIRMWARE=(VX350_A.05.01.fmw VX355KPLOT_A.04.02.fmw VX350KPLOT_A.04.02.fmw
              VX650DISK_A.04.02.fmw VX650PS_A.04.02.fmw)
# Realistic sizes of a few MB, none a round number of blocks, so a copy that
# loses or pads the last block shows.
E2E_FIRMWARE_BYTES=(3145805 2097217 2359331 4194389 2621483)

# What the user reads, as the driver's scripts write it (\n is a line break).
T1='Searching for Tarnell Vellumax 350/650 series printer. Please connect your printer to this computer with a USB cable'
T2='A compatible printer can not be detected. Please connect your printer to this computer with a USB cable. Press Ok to continue'
T3="In order to continue, the Tarnell Vellumax 350/650 driver must be installed on this computer.\\nThe printer firmware hasn't been updated"
T5='Firmware update has been cancelled.\nClick Ok to Finish.'
T6='Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.'
T6B='Copying Firmware files to printer, do not switch printer off nor unplug the USB cable.\nPlease wait while printer is upgrading disk file.'
STALL_LINE='\nThe copy to the printer has not finished for a minute. Press Esc to stop the upgrade.'
STOPPED='The firmware upgrade has been stopped.'
T7='Firmware files have been successfully copied to the printer, please follow steps on printer front panel to complete upgrade.\nClick Ok to finish.'
T8='In order to continue with Firmware upgrade please follow the next steps:\n\n   1. Reboot printer.\n   2. Wait until printer is ready.\n   3. Click Ok button to continue with upgrade.'
NOT_DETECTED='Printer not detected, please connect your printer to this computer with a USB cable. Press Ok to continue'
NO_QUEUE='Queue not installed, please install queue. Firmware not upgraded'
CONFIRM='Are you sure that you want to upgrade firmware?'
POOL_ONLY='The print queue VX ZPool prints to USB port USB001 and to other ports as well (printer pooling). Firmware cannot be sent through a pool, because the spooler may hand it to the printer on another port. Install a print queue for USB port USB001 alone. Firmware not upgraded'
LIBRARY_MISSING='The device library vxprobe.dll could not be loaded: Module not found (error 126).'
# T4 names the share and the port.
t4() {
    echo "Firmware A.05.01 is going to be copied to $1 connected on USB port $2.\\nWarning! Check that installed firmware version is A.02.06 or newer before proceeding further. Contact Tarnell support if printer firmware version is lower than A.02.06."
}

# Once the printer and its queue are found: found <queue> <port>.
found() { echo "Found the printer on USB port $2 and its print queue $1.\\nChecking that the upgrade can start..."; }

# The details shown before the confirmation, as the driver's scripts write
# them: details <model> <port> <queue> <share> <file> <bytes>, for a printer
# that takes one file. Wine's spooler cannot list a queue's jobs, so its
# stages are never held.
details() {
    echo "Printer: $1 on USB port $2\\nPrint queue: $3, shared as \\\\\\\\$E2E_COMPUTER\\\\$4\\nNot held in the queue (its jobs cannot be listed): each file prints as it arrives\\nSends $5 ($6 bytes)"
}

# Devices as the stand-in library's device file describes them.
device() { echo "device\\nrecord $1\\nport $2\\n"; }

e2e_say() { echo "[$(date +%T)] $*"; }
e2e_fail() { echo "FAIL: $*" >&2; E2E_FAILED=1; }

# Which Wine loader starts Windows programs, and the prefix's settings.
. "$E2E_HERE/../../scripts/wine-env.sh"

# Windows programs get our paths through Wine's Z: drive.
e2e_winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# Every Wine call of ours: quiet, and never on the caller's pipes: Wine's
# background services inherit them from whichever call starts them, and a
# test runner (or a pipe in this script) would wait on them for ever.
#
# Now and then Wine cannot start a program at all: the loader finds the
# address it keeps for the shared user data already taken ("failed to map the
# shared user data: c0000018", shown only with Wine's error messages on), and
# the call ends with exit code 1, the program never having run. It struck
# about one start in forty with several prefixes busy side by side. Our
# programs always say why they fail on stderr, so a failure without a word
# of the program's own is tried again, each attempt logged, at most three
# times. What the last attempt said (or that it said nothing) is left in
# E2E_WINE_SAID for the caller's failure message.
e2e_wine() {
    local out err rc attempt wine_said
    out=$(mktemp)
    err=$(mktemp)
    for attempt in 1 2 3; do
        wine "$@" </dev/null >"$out" 2>"$err"
        rc=$?
        cat "$err" >>"$E2E_ART/wine.err"
        E2E_WINE_SAID=$(tr -d '\r' <"$err" | grep -v '^$' | tail -n 3 | tr '\n' ' ')
        [ "$rc" -eq 0 ] || [ -n "$E2E_WINE_SAID" ] && break
        wine_said=$(tr -d '\r' <"$out" | grep -v '^$' | tr '\n' ' ')
        E2E_WINE_SAID="${1##*/} said nothing and ended with exit code $rc, $attempt times, as when Wine cannot start a program${wine_said:+ (Wine: $wine_said)}"
        echo "e2e: ${1##*/} ${*:2}: attempt $attempt of 3 said nothing and ended with exit code $rc${wine_said:+ (Wine: $wine_said)}" >&2
        [ "$attempt" -lt 3 ] && sleep 1
    done
    tr -d '\r' <"$out"
    rm -f "$out" "$err"
    return $rc
}

# e2e_make_template <folder>: <folder>/prefix, <folder>/firmware/*,
# <folder>/computer.
e2e_make_template() {
    local dir=$1 i
    mkdir -p "$dir/firmware"
    for i in "${!E2E_FIRMWARE[@]}"; do
        head -c "${E2E_FIRMWARE_BYTES[$i]}" /dev/urandom >"$dir/firmware/${E2E_FIRMWARE[$i]}"
    done
    (
        wine_env "$dir/prefix"
        E2E_ART=$dir
        wineboot -i </dev/null >/dev/null 2>&1
        wineserver -w
        # Wine's own fonts (Tahoma for dialogs, Marlett for the caption
        # buttons) are installed where this Wine does not look; its prefix's
        # Fonts folder is searched, so the windows look as they do on Windows.
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
        wineserver -p </dev/null >/dev/null 2>&1
        # A crash must end the program, not wait on Wine's crash dialog.
        e2e_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
        # Wine's own desktop window: it draws captions and frames as Windows
        # does, where a bare X server has no window manager to draw them.
        e2e_wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
        e2e_wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
        e2e_wine "$E2E_BIN/e2e_spool.exe" driver ||
            { echo "FAIL: cannot install the test driver: $E2E_WINE_SAID" >&2; exit 1; }
        e2e_wine "$E2E_BIN/e2e_spool.exe" computer >"$dir/computer"
        wineserver -k
        wineserver -w
        # Wine's server writes the registry only as it ends, and is killed
        # outright when it takes too long: every scenario copies this prefix,
        # so one that lost the driver would fail in each of them.
        grep -q 'Simulated Large-Format Driver' "$WINEPREFIX/system.reg" ||
            { echo "FAIL: the template's registry has no test driver: Wine's server did not save it" >&2; exit 1; }
        [ -s "$dir/computer" ]
    )
}

# e2e_begin <template> <scenario folder> <artifact folder>
# Lays out <scenario folder>: prefix/ (a copy of the template's), tool/ (the
# tool, the device-status library and its device file), work/ (the tool's
# current folder, where the firmware files go) and jobs/<share>/ (what the
# printer received).
e2e_begin() {
    local template=$1
    E2E_DIR=$2
    E2E_ART=$3
    E2E_FAILED=0
    E2E_RECORDERS=()
    E2E_XVFB=
    E2E_TOOL_PID=
    rm -rf "$E2E_DIR" "$E2E_ART"
    mkdir -p "$E2E_DIR/tool" "$E2E_DIR/work" "$E2E_DIR/jobs" "$E2E_ART"
    cp -a "$template/prefix" "$E2E_DIR/prefix"
    E2E_TEMPLATE=$template
    E2E_COMPUTER=$(cat "$template/computer")
    wine_env "$E2E_DIR/prefix"
    cp "${E2E_TOOL:-$E2E_BIN/VxUpgrade.exe}" "$E2E_BIN/vxprobe.dll" "$E2E_DIR/tool/"
    if [ -z "${E2E_USE_DISPLAY:-}" ]; then
        # A display of our own: the screenshots show this scenario only.
        local fd_file="$E2E_DIR/display"
        Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$fd_file" \
            </dev/null >/dev/null 2>&1 &
        E2E_XVFB=$!
        local i
        for i in $(seq 50); do [ -s "$fd_file" ] && break; sleep 0.1; done
        export DISPLAY=":$(cat "$fd_file")"
    fi
    # Warm between our calls, and gone a minute after the last one even when
    # this script is killed before it can stop it.
    wineserver -p60 </dev/null >/dev/null 2>&1
}

# e2e_queue <name> <port> <share> shared|unshared [offline]
e2e_queue() { e2e_wine "$E2E_BIN/e2e_spool.exe" add "$@" || e2e_fail "cannot add queue $1: $E2E_WINE_SAID"; }

# e2e_queue_state <name>: prints shared or unshared.
e2e_queue_state() { e2e_wine "$E2E_BIN/e2e_spool.exe" state "$1"; }

# e2e_expect_queue <name> shared|unshared <when>
e2e_expect_queue() {
    local state
    state=$(e2e_queue_state "$1")
    echo "queue $1 $3: $state" >>"$E2E_ART/checks.txt"
    [ "$state" = "$2" ] || e2e_fail "queue $1 is '$state' $3, expected $2"
}

# e2e_device_file <content, with \n>: the device the library reports, after
# the directives in E2E_DEVICE_PREFIX, when set.
e2e_device_file() { printf '%b' "${E2E_DEVICE_PREFIX:-}$1" >"$E2E_DIR/tool/vxprobe.txt"; }

# e2e_firmware <name>...: puts these firmware files in the tool's folder.
e2e_firmware() {
    local name
    for name in "$@"; do cp "$E2E_TEMPLATE/firmware/$name" "$E2E_DIR/work/"; done
}

# e2e_printer_end <share> <queue> [stall seconds]: the share becomes a named
# pipe with a recorder behind it. It must run before the tool copies: a copy
# to a pipe without a reader would wait for ever. A stall makes each copy
# last at least that long.
e2e_printer_end() {
    local share=$1 queue=$2 stall=${3:-0} host="$WINEPREFIX/dosdevices/unc/$E2E_COMPUTER"
    mkdir -p "$host"
    mkfifo "$host/$share"
    # A session of its own, so that stopping it takes its dd or cat along.
    setsid bash "$E2E_HERE/recorder.sh" "$host/$share" "$E2E_DIR/jobs/$share" "$queue" \
        "$E2E_BIN/e2e_spool.exe" "$stall" </dev/null >>"$E2E_ART/recorder.log" 2>&1 &
    E2E_RECORDERS+=($!)
}

# e2e_hold hold <Windows path> | hold-lock <seconds>: another program holds
# a firmware file open without sharing it, or the tool's one-upgrade lock,
# until the scenario ends (or the seconds pass); returns once it holds it.
e2e_hold() {
    local out="$E2E_DIR/$1.out" i
    wine "$E2E_BIN/e2e_spool.exe" "$@" </dev/null >"$out" 2>>"$E2E_ART/wine.err" &
    for i in $(seq 200); do grep -q held "$out" 2>/dev/null && return 0; sleep 0.1; done
    e2e_fail "e2e_spool $* never held it"
}

# e2e_start_tool: the tool runs from its own folder with work/ as its current
# folder, as a user starts it from the folder that holds the firmware files.
# E2E_TOOL_ENV (NAME=value words) sets variables for the tool's process only.
e2e_start_tool() {
    (cd "$E2E_DIR/work" && exec env ${E2E_TOOL_ENV:-} wine "$E2E_DIR/tool/VxUpgrade.exe") \
        </dev/null >"$E2E_ART/tool.out" 2>&1 &
    E2E_TOOL_PID=$!
}

# e2e_drive <script file>: plays the user; returns the driver's exit code.
e2e_drive() {
    cp "$1" "$E2E_ART/script.txt"
    # Every step of the driver has its own time-out; this one only catches a
    # driver that hangs in Wine itself.
    (cd "$E2E_DIR/tool" && timeout "${E2E_DRIVE_LIMIT:-400}" wine "$E2E_BIN/e2e_driver.exe" \
        "$(e2e_winpath "$E2E_ART/script.txt")" "$(e2e_winpath "$E2E_ART/driver.log")" \
        "$(e2e_winpath "$E2E_ART")") </dev/null >>"$E2E_ART/driver.out" 2>&1
}

# e2e_wait_tool <seconds>: waits for the tool to end; its exit code in
# E2E_TOOL_EXIT ("none" when it had to be stopped).
e2e_wait_tool() {
    local i
    E2E_TOOL_EXIT=none
    for i in $(seq $(($1 * 10))); do
        if ! kill -0 "$E2E_TOOL_PID" 2>/dev/null; then
            wait "$E2E_TOOL_PID"
            E2E_TOOL_EXIT=$?
            break
        fi
        sleep 0.1
    done
    echo "tool exit code: $E2E_TOOL_EXIT" >>"$E2E_ART/checks.txt"
}

# e2e_expect_jobs <share> <firmware file>...: the printer received exactly
# these files, byte for byte, in this order, each while the queue was shared.
e2e_expect_jobs() {
    local share=$1 dir="$E2E_DIR/jobs/$1" n=0 name job got
    shift
    got=$(ls "$dir"/job-*.bin 2>/dev/null | wc -l)
    for name in "$@"; do
        n=$((n + 1))
        job="$dir/job-$n.bin"
        if [ ! -f "$job" ]; then
            e2e_fail "job $n ($name) never reached share $share"
            continue
        fi
        if cmp -s "$job" "$E2E_TEMPLATE/firmware/$name"; then
            echo "job $n on $share: $name, $(stat -c %s "$job") bytes, identical; queue $(cat "$dir/job-$n.state") meanwhile" >>"$E2E_ART/checks.txt"
        else
            e2e_fail "job $n on $share ($(stat -c %s "$job") bytes) differs from $name ($(stat -c %s "$E2E_TEMPLATE/firmware/$name") bytes)"
        fi
        [ "$(cat "$dir/job-$n.state")" = shared ] ||
            e2e_fail "job $n on $share arrived while the queue was '$(cat "$dir/job-$n.state")'"
    done
    [ "$got" -eq "$n" ] || e2e_fail "share $share received $got jobs, expected $n"
}

# e2e_end: stops what the scenario started, in the order that leaves no
# writer blocked on a pipe: the tool first (Wine's server ends everything of
# this prefix), then the recorders, then the display. Screenshots become PNG.
e2e_end() {
    local pid shot
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [ -n "$E2E_TOOL_PID" ] && wait "$E2E_TOOL_PID" 2>/dev/null
    for pid in "${E2E_RECORDERS[@]}"; do
        kill -- "-$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ -n "$E2E_XVFB" ]; then
        kill "$E2E_XVFB" 2>/dev/null
        wait "$E2E_XVFB" 2>/dev/null
    fi
    for shot in "$E2E_ART"/*.bmp; do
        [ -f "$shot" ] || continue
        convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
    done
    # The guide's pictures carry no time, so that one screen always gives
    # the same file.
    for shot in "$E2E_ART"/pictures/*.bmp; do
        [ -f "$shot" ] || continue
        convert "$shot" -strip -define png:exclude-chunks=date,time "${shot%.bmp}.png" && rm -f "$shot"
    done
}
