#!/usr/bin/env bash
# Builds both targets and runs every test under Wine: the 64-bit build's and,
# where this machine can run 32-bit Windows programs, the 32-bit build's too
# (the build users run; its end-to-end scenarios use the tool taken out of
# the release package). Where it cannot, one line says so and only the
# 32-bit checks that need no Wine run.
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

bash scripts/setup.sh --wine32

# TARGETS limits the build to some 64-bit targets while working on one part
# (TARGETS="a b"); the 32-bit build and its checks are then left out.
arches="i686 x86_64"
[ -z "${TARGETS:-}" ] || arches=x86_64
for arch in $arches; do
    cmake -S . -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
    cmake --build "$build/$arch" -j "$(nproc)" ${TARGETS:+--target $TARGETS}
done

. scripts/wine-env.sh
wine_prepare "$build/wineprefix"

# Whether 32-bit Windows programs run here, and if not, why: a kernel that
# cannot execute 32-bit code at all (some of this kind of machine), no 32-bit
# Wine loader (set-up leaves out or could not install wine32, and says why
# in the build folder), or a loader that fails. Then a tiny program that
# exits with a known code tells, in the same (WoW64) prefix the tests use.
. scripts/kernel-32bit.sh
can_run_32bit() {
    local dir=$build/wine32-check note=$build/setup/wine32-not-installed out rc
    if ! kernel_runs_32bit "$dir"; then
        why32=$kernel_32bit_problem
        return 1
    fi
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        why32="the 32-bit Wine loader (wine32:i386) is not installed"
        [ -s "$note" ] && why32="the 32-bit Wine loader (wine32:i386) could not be installed ($(head -n 1 "$note"))"
        return 1
    fi
    if [ -n "$wine_32bit_problem" ]; then
        why32=$wine_32bit_problem
        return 1
    fi
    mkdir -p "$dir"
    printf 'int main(void) { return 42; }\n' >"$dir/check.c"
    if ! i686-w64-mingw32-gcc-posix -o "$dir/check.exe" "$dir/check.c" 2>"$dir/out"; then
        why32="the 32-bit check program does not build: $(head -n 1 "$dir/out")"
        return 1
    fi
    rc=0
    timeout 120 wine "$dir/check.exe" </dev/null >"$dir/out" 2>&1 || rc=$?
    # This ran without a display: stop the server and the desktop process it
    # may have started, or the tests' windows would be made on a desktop
    # that has none.
    wineserver -k 2>/dev/null || true
    wineserver -w
    [ "$rc" -eq 42 ] && return 0
    out=$(tr -d '\r' <"$dir/out" | grep -v '^$' | head -n 1)
    why32="a 32-bit Windows program ended with exit code $rc instead of 42${out:+ ($out)}"
    return 1
}

run32=0
if [ -z "${TARGETS:-}" ]; then
    if can_run_32bit; then
        run32=1
    else
        echo "test: NOT running the 32-bit tests under Wine: $why32; only its checks without Wine run"
    fi
fi

# Wine's services inherit the caller's pipes; start the server persistent and
# warm before CTest runs so that it neither waits on them nor pays a cold
# start per test. A display is needed for the tests that create windows. Both
# builds' programs share the prefix and its server; either build's failure
# fails the run.
#
# The tests that use the shared display run one at a time, the 32-bit build's
# first. Then both builds' end-to-end scenarios run side by side: each
# scenario has its own prefix, server and display, and most of their time is
# spent waiting on the tool (the two reboot waits, about three minutes each,
# overlap everything else).
#
# CTest shows nothing of a skipped test: the guide's picture check leaves its
# reason for comparing nothing in a file, said after the scenarios.
rm -f "$build/artifacts/e2e/pictures-not-compared.txt"
cd "$build"
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
    run32=$1 targets=$2
    shift 2
    wineserver -p
    wine wineboot -u </dev/null >/dev/null 2>&1
    rc=0
    if [ "$run32" = 1 ]; then
        echo "test: the 32-bit build under 32-bit Wine"
        (cd i686 && ctest --output-on-failure --timeout 900 -LE e2e "$@") || rc=1
    elif [ -z "$targets" ]; then
        (cd i686 && ctest --output-on-failure -L native "$@") || rc=1
    fi
    echo "test: the 64-bit build"
    (cd x86_64 && ctest --output-on-failure --timeout 900 -LE e2e "$@") || rc=1
    e2e32=
    if [ "$run32" = 1 ]; then
        (cd i686 && ctest --output-on-failure --timeout 900 -L e2e "$@") >e2e-i686.log 2>&1 &
        e2e32=$!
    fi
    echo "test: the 64-bit end-to-end scenarios${e2e32:+ (the 32-bit ones beside them)}"
    (cd x86_64 && ctest --output-on-failure --timeout 900 -L e2e "$@") || rc=1
    sed "s/^/test: /" artifacts/e2e/pictures-not-compared.txt 2>/dev/null
    if [ -n "$e2e32" ]; then
        wait "$e2e32" || rc=1
        echo "test: the 32-bit end-to-end scenarios"
        cat e2e-i686.log
    fi
    wineserver -k
    exit $rc' ctest "$run32" "${TARGETS:-}" "$@"
