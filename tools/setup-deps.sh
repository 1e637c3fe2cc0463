#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, running the demo and making the API
# reference (doxygen) need.
# Only the missing ones are installed, so a second run costs a dpkg query and nothing more.
set -euo pipefail

packages=(
  build-essential
  cmake
  ninja-build
  pkg-config
  qt6-base-dev
  qt6-base-dev-tools
  qt6-declarative-dev
  qt6-declarative-dev-tools
  qml6-module-qtqml
  qml6-module-qtqml-models
  qml6-module-qtqml-workerscript
  qml6-module-qtquick
  qml6-module-qtquick-controls
  qml6-module-qtquick-layouts
  qml6-module-qtquick-templates
  qml6-module-qtquick-window
  libqt6opengl6-dev
  libgl-dev
  libopencv-dev
  libboost-dev
  libimage-exiftool-perl
  xvfb
  xauth
  g++-mingw-w64-x86-64
  g++-mingw-w64-x86-64-posix
  wine64
  libz-mingw-w64-dev
  libwine-dev
  qt6-shader-baker
  qt6-shadertools-dev
  nasm
  python3
  dpkg-dev
  lintian
  file
  clang
  clang-format
  doxygen
  libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
else
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
