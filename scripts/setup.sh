#!/usr/bin/env bash
# Installs what building and testing the tool needs on a Debian 12 machine.
# Safe to run again: it only asks apt for packages that are missing.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix
  cmake
  wine
  wine64
  wine32:i386
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

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine loader runs the build users run. Its package installs on
# every machine; whether this kernel can run it is checked before the 32-bit
# tests, not here.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
