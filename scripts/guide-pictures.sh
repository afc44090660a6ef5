#!/usr/bin/env bash
# Takes the pictures of the guide (release/guide-pictures/) again from the
# tool as it is: builds the 64-bit tool, plays the end-to-end scenarios
# under Wine (about 6 minutes) and, when every scenario passed, puts the
# pictures they took in release/guide-pictures/ for you to look at and
# commit, with versions.txt: the packages that drew them, as installed here.
# Run it after a change to what a pictured screen shows; the test run fails
# until then (test guide_pictures_show_the_tool).
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

bash scripts/setup.sh
cmake -S . -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$(nproc)" --target VxUpgrade vxprobe e2e_spool e2e_driver
(cd "$build/x86_64" && ctest --output-on-failure --timeout 900 -L e2e -E guide_pictures)
# Also writes versions.txt: the test run compares the pictures only where
# the packages that drew them are installed at these versions.
bash tests/e2e/scenario.sh pictures "$build/artifacts/e2e" "$root/release/guide-pictures" update
git status --short release/guide-pictures
