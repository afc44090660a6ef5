#!/usr/bin/env bash
# Builds the release package, dist/VxUpgrade-<version>-win32.zip: the 32-bit
# tool, stripped, and the user's guide, and dist/SHA256SUMS, the zip's
# digest as `sha256sum -c` reads it. Without a certificate the same commit
# gives the same zip, byte for byte.
#
# To sign the tool (Authenticode, SHA-256) before it is zipped:
#   VX_SIGN_PFX            the code-signing certificate and its key, PKCS#12
#   VX_SIGN_PASSWORD_FILE  a file holding its password
#   VX_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server
# BUILD_DIR chooses the build folder (default: build), DIST_DIR the output
# folder (default: dist).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${BUILD_DIR:-build}")
dist=$(realpath -m "${DIST_DIR:-dist}")

bash scripts/setup.sh
cmake -S . -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build/i686" -j "$(nproc)" --target release_package

zip=$(ls "$build/i686/package/"VxUpgrade-*-win32.zip)
name=$(basename "$zip")
out="$dist/$name"
mkdir -p "$dist"
# A failed run must not leave an older zip beside a digest that vouches for it.
rm -f "$out" "$dist/SHA256SUMS"
if [ -n "${VX_SIGN_PFX:-}" ]; then
    if [ -z "${VX_SIGN_PASSWORD_FILE:-}" ]; then
        echo "package: VX_SIGN_PFX is set; VX_SIGN_PASSWORD_FILE must name the file with its password" >&2
        exit 1
    fi
    # The build's own package stays unsigned; this one is made the same way,
    # from the same program and guide, with the signature added.
    version=${name#VxUpgrade-}
    version=${version%-win32.zip}
    bash release/make-zip.sh i686-w64-mingw32-strip "$build/i686/bin/VxUpgrade.exe" release/README.txt "$version" \
        "$out" "$VX_SIGN_PFX" "$VX_SIGN_PASSWORD_FILE" "${VX_SIGN_TIMESTAMP_URL:-}"
    signed=", signed"
else
    cp "$zip" "$out"
    signed=", unsigned"
fi
(cd "$dist" && sha256sum "$name" >SHA256SUMS)
exe_bytes=$(unzip -Z -l "$out" VxUpgrade.exe | awk '$NF == "VxUpgrade.exe" { print $4 }')
echo "package: $out, $(stat -c %s "$out") bytes; VxUpgrade.exe $exe_bytes bytes$signed; digest in $dist/SHA256SUMS"
