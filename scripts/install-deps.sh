#!/usr/bin/env bash
# Installs everything the build, the program and the tests need, from Debian's archive only.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-serialport-dev
  libqt6svg6 qt6-qpa-plugins
  libqcustomplot-dev libqcustomplot2.1-qt6
  python3 python3-xlrd python3-openpyxl
  libxlsxwriter-dev
  xvfb xauth xdotool x11-apps imagemagick
  fonts-noto-cjk
  clang libclang-rt-14-dev
  libmosquitto-dev mosquitto mosquitto-clients openssl
  dpkg-dev file
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
