#!/usr/bin/env bash
# Installs what building and testing the tool needs on a Debian 12 machine.
# Safe to run again: it only asks apt for packages that are missing.
#
#   setup.sh            what both builds, the tests and the release need
#   setup.sh --run      only what scripts/run.sh uses: the 64-bit build and
#                       the Wine that runs it
#   setup.sh --wine32   everything, and the 32-bit Wine loader (scripts/test.sh)
#
# Set-up fails when a package of its list cannot be had. The 32-bit loader
# only runs the 32-bit build's Windows tests, and only where the kernel can
# execute 32-bit code, so only the test run asks for it, and only there; a
# refusal is said and let pass, and set-up leaves apt's reason in the build
# folder (BUILD_DIR, default build) for test.sh to name.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
. scripts/kernel-32bit.sh

mode=${1:-}
case "$mode" in
"" | --run | --wine32) ;;
*)
  echo "usage: setup.sh [--run | --wine32]" >&2
  exit 2
  ;;
esac

# What builds the 64-bit tool and runs it under Wine.
packages=(
  g++-mingw-w64-x86-64-posix
  cmake
  googletest
  wine
  wine64
  fonts-wine
  xvfb
  xdotool
  imagemagick
)
# What the 32-bit build, the tests and the release need besides.
[ "$mode" = --run ] || packages+=(
  g++-mingw-w64-i686-posix
  xauth
  x11-apps
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
# is remembered for an hour: while a mirror finishes its sync, each test run
# would otherwise spend half a minute on it to no avail.
want32=0 skip32=
if [ "$mode" != --wine32 ]; then
  :
elif installed "$wine32"; then
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

# Runs apt-get, its output in $log. On a freshly booted machine the system's
# own package updates hold apt's lock for a minute or two; a call that finds
# it held is tried again every 5 seconds, for at most 5 minutes over the
# whole set-up, which says once that it waits. apt's DPkg::Lock::Timeout
# would not do: apt-get update (apt 2.6) does not wait for the lists' lock
# at all, and apt waits without a word. When the lock was still held,
# lock_held names it and lock_holder the program apt says holds it.
lock_wait=300 lock_waited=0 lock_held= lock_holder=
apt_get() {
  lock_held=
  until LC_ALL=C.UTF-8 apt-get "$@" >"$log" 2>&1; do
    lock_held=$(sed -n 's/^E: Could not get lock \([^ ]*[^. ]\).*$/\1/p' "$log" | head -n 1)
    lock_holder=$(sed -n 's/^E: Could not get lock .*It is held by \(.*\)$/\1/p' "$log" | head -n 1)
    [ -n "$lock_held" ] && [ $lock_waited -lt $lock_wait ] || return 1
    [ $lock_waited -gt 0 ] ||
      echo "setup: waiting up to $((lock_wait / 60)) minutes for apt's lock $lock_held${lock_holder:+, held by $lock_holder}" >&2
    sleep 5
    lock_waited=$((lock_waited + 5))
  done
  lock_held=
}
lock_reason() {
  echo "apt's lock $lock_held was still held after $((lock_wait / 60)) minutes${lock_holder:+, by $lock_holder}"
}

# A list out of step with its index (a mirror in mid-sync) fails the whole
# update though every other list was read; apt then works from those, and
# whatever cannot be installed without the missing list is named below.
# Fails only while apt's lock is held.
lists_updated=0
update_lists() {
  lists_updated=1
  apt_get update -qq && return 0
  [ -z "$lock_held" ] || return 1
  sleep 10
  apt_get update -qq && return 0
  [ -z "$lock_held" ] || return 1
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
    apt_get install -s -qq --no-install-recommends "$p" || out+="${out:+, }$p ($(apt_reason))"
  done
  echo "${out:-$* ($reason)}"
}

# The i386 architecture is there only for this install, and goes again when
# the install fails (dpkg keeps it while any i386 package is installed): a
# package source that serves no i386 lists would otherwise fail every later
# apt-get update on this machine. A lock still held is no refusal, so it is
# not remembered.
install_wine32() {
  local added=0 out reason
  echo "setup: installing $wine32 (runs the 32-bit build's Windows tests)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if ! out=$(dpkg --add-architecture i386 2>&1); then
      reason="dpkg --add-architecture i386 failed: $(printf '%s\n' "$out" | head -n 1)"
      remember_refusal "$reason"
      without_wine32 "$reason"
      return
    fi
    added=1
  fi
  if { [ $added -eq 0 ] && [ $lists_updated -eq 1 ] || update_lists; } &&
    apt_get install -y -qq --no-install-recommends "$wine32"; then
    rm -f "$wine32_note"
    return
  fi
  if [ -n "$lock_held" ]; then
    reason=$(lock_reason)
  else
    reason=$(apt_reason)
    remember_refusal "$reason"
  fi
  without_wine32 "$reason"
  [ $added -eq 1 ] || return 0
  out=$(dpkg --remove-architecture i386 2>&1) ||
    echo "setup: the i386 architecture stays added ($(printf '%s\n' "$out" | head -n 1)); apt-get update asks for its lists from now on" >&2
}
remember_refusal() {
  mkdir -p "$(dirname "$wine32_note")"
  printf '%s\n' "$1" >"$wine32_note"
}

export DEBIAN_FRONTEND=noninteractive
[ -z "$skip32" ] || [ ${#missing[@]} -eq 0 ] || echo "setup: leaving out $wine32: $skip32" >&2
if [ ${#missing[@]} -gt 0 ]; then
  update_lists || { echo "setup: cannot install ${missing[*]} ($(lock_reason))" >&2; exit 1; }
  echo "setup: installing ${missing[*]}"
  if ! apt_get install -y -qq --no-install-recommends "${missing[@]}"; then
    if [ -n "$lock_held" ]; then
      echo "setup: cannot install ${missing[*]} ($(lock_reason))" >&2
    else
      echo "setup: cannot install $(refused_packages "$(apt_reason)" "${missing[@]}")" >&2
    fi
    exit 1
  fi
fi
[ $want32 -eq 0 ] || install_wine32
exit 0
