#!/usr/bin/env bash
# Builds both targets and runs every test: the 64-bit build under Wine, the
# 32-bit build compiled and checked (this kernel cannot run 32-bit programs).
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

bash scripts/setup.sh

# TARGETS limits the build to some 64-bit targets while working on one part
# (TARGETS="a b"); the 32-bit build and its checks are then left out.
arches="i686 x86_64"
[ -z "${TARGETS:-}" ] || arches=x86_64
for arch in $arches; do
    cmake -S . -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
    cmake --build "$build/$arch" -j "$(nproc)" ${TARGETS:+--target $TARGETS}
done

# The 32-bit checks run natively (they inspect the built files).
[ -n "${TARGETS:-}" ] || (cd "$build/i686" && ctest --output-on-failure)

. scripts/wine-env.sh
wine_prepare "$build/wineprefix"

# Wine's services inherit the caller's pipes; start the server persistent and
# warm before CTest runs so that it neither waits on them nor pays a cold
# start per test. A display is needed for the tests that create windows.
cd "$build/x86_64"
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
    wineserver -p
    wine wineboot -u </dev/null >/dev/null 2>&1
    ctest --output-on-failure --timeout 900 "$@"
    rc=$?
    wineserver -k
    exit $rc' ctest "$@"
