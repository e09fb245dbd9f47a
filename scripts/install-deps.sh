#!/usr/bin/env bash
# Installs every Debian package Quenlor needs to build, test and run. Quick when all are present.
set -euo pipefail
PKGS=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsdl2-dev libepoxy-dev
      libstb-dev libgl1-mesa-dri libegl-mesa0 libgl-dev libegl-dev mesa-utils xvfb xauth xdotool x11-utils
      clang libclang-rt-14-dev ccache xfonts-base libbullet-dev libopenxr-loader1 libopenxr-dev
      libsdl2-mixer-dev ffmpeg fonts-ipafont-gothic libtomlplusplus-dev)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
