#!/usr/bin/env bash
# Builds the release package, dist/VxUpgrade-<version>-win32.zip: the 32-bit
# tool, stripped, and the user's guide. The same commit gives the same zip,
# byte for byte. BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${BUILD_DIR:-build}")

bash scripts/setup.sh
cmake -S . -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build/i686" -j "$(nproc)" --target release_package

zip=$(ls "$build/i686/package/"VxUpgrade-*-win32.zip)
mkdir -p dist
cp "$zip" dist/
out="dist/$(basename "$zip")"
exe_bytes=$(unzip -Z -l "$out" VxUpgrade.exe | awk '$NF == "VxUpgrade.exe" { print $4 }')
echo "package: $out, $(stat -c %s "$out") bytes; VxUpgrade.exe $exe_bytes bytes"
