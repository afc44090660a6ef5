#!/usr/bin/env bash
# scripts/package.sh with and without a certificate, on this build:
#   check-signing.sh <build folder of the i686 build> <objdump>
# Unsigned, the zip is the build's own package, byte for byte; signed with a
# throwaway code-signing certificate from a throwaway CA, its VxUpgrade.exe
# verifies against that CA and is still what ships. Both runs leave a
# SHA256SUMS that sha256sum -c accepts.
set -euo pipefail
binary=$1 objdump=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$binary")
# package.sh builds in <BUILD_DIR>/i686; any other layout would start a
# second build.
[ "$root/i686" -ef "$binary" ] || { echo "SKIP: $binary is not <build>/i686"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
package() { BUILD_DIR=$root DIST_DIR=$work/$1 bash "$here/../scripts/package.sh" >"$work/$1.log" 2>&1 ||
    { cat "$work/$1.log"; fail "package.sh ($1) failed"; }; }
sums_hold() { (cd "$work/$1" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the $1 package does not hold"; }

(
    cd "$work"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway Test CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Throwaway Test Publisher"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext -out signer.pem
    echo "throwaway password" >password
    openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.pfx -passout file:password
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; echo "FAIL: cannot make the test certificate"; exit 1; }

package plain
cmp -s "$work/plain/"VxUpgrade-*-win32.zip "$binary/package/"VxUpgrade-*-win32.zip ||
    fail "the unsigned package differs from the build's own"
sums_hold plain

VX_SIGN_PFX=$work/signer.pfx VX_SIGN_PASSWORD_FILE=$work/password package signed
sums_hold signed
zip=$(ls "$work/signed/"VxUpgrade-*-win32.zip)
unzip -q "$zip" VxUpgrade.exe -d "$work/unpacked"
if osslsigncode verify -CAfile "$work/ca.pem" -in "$work/unpacked/VxUpgrade.exe" >"$work/verify.log" 2>&1; then
    grep -qi 'digest algorithm *: *SHA256' "$work/verify.log" || fail "the signature's digest is not SHA-256: $(cat "$work/verify.log")"
else
    fail "osslsigncode does not accept the signed VxUpgrade.exe: $(cat "$work/verify.log")"
fi
bash "$here/check-package.sh" "$objdump" "$zip" >"$work/check.log" || { cat "$work/check.log"; fail "the signed package is not what ships"; }
[ $status -eq 0 ] && echo "package.sh: unsigned as built, signed and verified, digests hold"
exit $status
