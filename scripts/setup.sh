#!/usr/bin/env bash
# Installs what building and testing the tool needs on a Debian 12 machine.
# Safe to run again: it only asks apt for packages that are missing.
#
# Everything but the 32-bit Wine loader is needed by the 64-bit build, the
# tests and the release: set-up fails when one of those cannot be had. The
# 32-bit loader only runs the 32-bit build's Windows tests, and only where
# the kernel can execute 32-bit code, so it is asked for only there, and a
# refusal is said and let pass; set-up leaves apt's reason in the build
# folder (BUILD_DIR, default build) for test.sh to name.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
. scripts/kernel-32bit.sh

packages=(
  g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix
  cmake
  wine
  wine64
  xvfb
  xauth
  xdotool
  googletest
  imagemagick
  x11-apps
  fonts-wine
  zip
  unzip
  osslsigncode
  openssl
)
wine32=wine32:i386
wine32_note=$build/setup/wine32-not-installed

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# Asked of the kernel, not of apt: on a kernel without 32-bit support the
# loader would be useless even where apt could install it. A refusal by apt
# is remembered for an hour: the scripts run set-up before every build and
# package (the test run packages twice), and while a mirror finishes its
# sync each new attempt would cost half a minute to no avail.
want32=0 skip32=
if installed "$wine32"; then
  rm -f "$wine32_note"
elif ! kernel_runs_32bit "$build/setup" "${SETUP_32BIT_CHECK:-}"; then
  rm -f "$wine32_note"
  skip32=$kernel_32bit_problem
elif [ -n "$(find "$wine32_note" -mmin -60 2>/dev/null)" ]; then
  skip32="apt could not install it less than an hour ago ($(head -n 1 "$wine32_note"))"
else
  want32=1
fi
[ ${#missing[@]} -eq 0 ] && [ $want32 -eq 0 ] && exit 0

# Leaves the 32-bit loader out, in one line.
without_wine32() {
  echo "setup: $wine32 could not be installed ($1); going on without it: the 32-bit build's Windows tests will not run here" >&2
}

if [ "$(id -u)" -ne 0 ]; then
  if [ ${#missing[@]} -gt 0 ]; then
    [ $want32 -eq 0 ] || missing+=("$wine32")
    echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
    exit 1
  fi
  without_wine32 "set-up is not running as root"
  exit 0
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# apt's errors in the last log, on one line (its last line if it gave none).
apt_reason() {
  local errors
  errors=$(sed -n 's/^E: //p' "$log" | grep -v '^Some index files failed to download' || true)
  [ -n "$errors" ] || errors=$(grep -v '^ *$' "$log" | tail -n 1 || true)
  printf '%s\n' "${errors:-no message}" | paste -sd'|' - | sed 's/|/; /g'
}

# A list out of step with its index (a mirror in mid-sync) fails the whole
# update though every other list was read; apt then works from those, and
# whatever cannot be installed without the missing list is named below.
update_lists() {
  apt-get update -qq >"$log" 2>&1 && return 0
  sleep 10
  apt-get update -qq >"$log" 2>&1 && return 0
  local lists
  lists=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1 (\2)/p' "$log" |
    sed 's/ \[IP: [^]]*\])$/)/' | paste -sd',' - | sed 's/,/, /g')
  echo "setup: apt-get update could not read ${lists:-the package lists ($(apt_reason))}; going on with the lists it has" >&2
}

# Names each package apt refuses on its own, with apt's reason: one package
# it cannot have makes it refuse the whole list. When each alone would go
# (a package's own install script failed, say), the list and the reason
# apt gave for it are named.
refused_packages() {
  local reason=$1 p out=
  shift
  for p; do
    apt-get install -s -qq --no-install-recommends "$p" >"$log" 2>&1 || out+="${out:+, }$p ($(apt_reason))"
  done
  echo "${out:-$* ($reason)}"
}

export DEBIAN_FRONTEND=noninteractive
[ -z "$skip32" ] || [ ${#missing[@]} -eq 0 ] || echo "setup: leaving out $wine32: $skip32" >&2
if [ $want32 -eq 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
update_lists

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    echo "setup: cannot install $(refused_packages "$(apt_reason)" "${missing[@]}")" >&2
    exit 1
  fi
fi
if [ $want32 -eq 1 ]; then
  echo "setup: installing $wine32 (runs the 32-bit build's Windows tests)"
  if apt-get install -y -qq --no-install-recommends "$wine32" >"$log" 2>&1; then
    rm -f "$wine32_note"
  else
    reason=$(apt_reason)
    mkdir -p "$(dirname "$wine32_note")"
    printf '%s\n' "$reason" >"$wine32_note"
    without_wine32 "$reason"
  fi
fi
exit 0
