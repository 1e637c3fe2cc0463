#!/usr/bin/env bash
# Installs the Debian 12 packages that one make target needs, and nothing more, so that a first
# `make demo` does not wait for Wine, MinGW or clang:
#
#   tools/setup-deps.sh [demo|test|docs|package|windows|sanitizers|all]...   (default: test)
#
#   demo        building the library, the imaging stand-ins and the programs of the demo
#   test        demo's, plus what the suite runs: ExifTool, clang-format, Xvfb
#   docs        doxygen
#   package     the Debian package tools (dpkg-dev, lintian)
#   windows     MinGW-w64, Wine and the host tools of the Windows dependency build
#   sanitizers  clang with its sanitizer runtimes
#
# Only the missing ones are installed, so a second run costs a dpkg query and nothing more.
set -euo pipefail

demo=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript qml6-module-qtquick
  qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-templates
  qml6-module-qtquick-window libqt6opengl6-dev libgl-dev
  # OpenCV's three modules and nothing of the rest (libopencv-dev pulls in VTK, the DNN module and
  # the contrib modules); cmake/OvFindOpenCV.cmake finds them without OpenCV's CMake package.
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  libboost-dev
  # The imaging stand-ins run it for metadata; without it the demo's photo keeps no metadata.
  libimage-exiftool-perl
)
# The installed-package test builds a consumer through OpenCV's own CMake package.
test=(xvfb xauth clang-format file libopencv-dev)
docs=(doxygen)
package=(dpkg-dev lintian file)
windows=(
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev libwine-dev
  # Qt Quick's shaders are baked on the host; libjpeg-turbo's SIMD code is assembled by nasm.
  qt6-shader-baker qt6-shadertools-dev nasm
)
sanitizers=(clang libclang-rt-14-dev)

wanted=()
for target in "${@:-test}"; do
  case "$target" in
    demo) wanted+=("${demo[@]}") ;;
    test) wanted+=("${demo[@]}" "${test[@]}") ;;
    docs) wanted+=("${docs[@]}") ;;
    package) wanted+=("${demo[@]}" "${package[@]}") ;;
    windows) wanted+=("${demo[@]}" "${test[@]}" "${windows[@]}") ;;
    sanitizers) wanted+=("${demo[@]}" "${test[@]}" "${sanitizers[@]}") ;;
    all) wanted+=("${demo[@]}" "${test[@]}" "${docs[@]}" "${package[@]}" "${windows[@]}" "${sanitizers[@]}") ;;
    *) echo "setup-deps: unknown target $target" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    [[ " ${missing[*]} " == *" $p "* ]] || missing+=("$p")
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
