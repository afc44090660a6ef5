#!/usr/bin/env bash
# Makes the release package: the stripped tool and the user's guide, as text
# (README.txt) and as a page with pictures of the tool (Guide.html and
# guide-pictures/), nothing else (never the stand-in device-status library).
#
#   make-zip.sh <strip> <VxUpgrade.exe> <guide> <version> <zip> \
#               [<PKCS#12 file> <password file> [<time-stamp URL>]]
#
# <guide> is README.txt; the page's outline (guide-outline.txt) and its
# pictures (guide-pictures/) lie beside it.
#
# The same inputs give the same zip, byte for byte: the program's header and
# every entry carry one fixed time, the entries have fixed permissions,
# come in a fixed order, and no extra fields (owner, Unix times) are stored.
# The pictures hold no time of their own.
# With a certificate the stripped program is Authenticode-signed (SHA-256,
# with an RFC 3161 time stamp when a URL is given); a signature holds its
# own signing time, so that zip is not reproducible.
set -euo pipefail
strip=$1 exe=$2 guide=$3 version=$4 zip=$5 pfx=${6:-} password_file=${7:-} timestamp_url=${8:-}
here=$(cd "$(dirname "$0")" && pwd)
sources=$(dirname "$guide")

# One fixed time for everything that records one: strip writes a fresh time
# stamp into the program's header unless SOURCE_DATE_EPOCH names one.
export SOURCE_DATE_EPOCH=946684800  # 2000-01-01 00:00:00 UTC

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
"$strip" -o "$stage/VxUpgrade.exe" "$exe"
# Signed after stripping: stripping a signed program would break its signature.
if [ -n "$pfx" ]; then
    if ! osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 ${timestamp_url:+-ts "$timestamp_url"} \
            -in "$stage/VxUpgrade.exe" -out "$stage/signed.exe" >"$stage/sign.log" 2>&1; then
        echo "make-zip: osslsigncode could not sign VxUpgrade.exe:" >&2
        cat "$stage/sign.log" >&2
        exit 1
    fi
    mv "$stage/signed.exe" "$stage/VxUpgrade.exe"
fi
sed -e "s/@VERSION@/$version/" "$guide" >"$stage/words.txt"
mkdir "$stage/guide-pictures"
cp "$sources"/guide-pictures/*.png "$stage/guide-pictures/"
bash "$here/make-guide.sh" "$stage/words.txt" "$sources/guide-outline.txt" "$stage/guide-pictures" "$stage/Guide.html"
# Windows line ends, so that every editor on Windows shows the guide right.
sed -e 's/$/\r/' "$stage/words.txt" >"$stage/README.txt"
# One order whatever the locale sorts by.
entries=(VxUpgrade.exe README.txt Guide.html $(cd "$stage" && LC_ALL=C ls -d guide-pictures/*.png))
(cd "$stage" && chmod 644 "${entries[@]}" && touch -d "@$SOURCE_DATE_EPOCH" "${entries[@]}")

mkdir -p "$(dirname "$zip")"
rm -f "$zip"
# zip stores local time; one zone for everybody.
(cd "$stage" && TZ=UTC zip -q -X -D -9 "$stage/package.zip" "${entries[@]}")
mv "$stage/package.zip" "$zip"
