#!/usr/bin/env bash
# Builds the Windows (x86_64-w64-mingw32, POSIX threads) dependencies of the project: the image
# libraries and OpenCV, Qt's qtbase and the part of qtdeclarative that the library and the reference
# window need (QtQml, Qt Quick, its controls with the Basic style, its layouts).
#
#   tools/windows-deps.sh            build into the cache whatever is not already there
#   tools/windows-deps.sh --prefix   print the folder the project builds against
#
# The cache is ${XDG_CACHE_HOME:-$HOME/.cache}/lumivex/windows-deps. Each stage is built into a
# folder of its own, stages/<stage>-<key>, whose key is made of the stage's inputs (its versions,
# the text of the functions that build it, the toolchain file) and of the keys of the stages it
# builds on. Changing how OpenCV is built therefore rebuilds OpenCV alone, and adding qtdeclarative
# leaves qtbase where it was. The folder the project builds against, <key>, is put together from
# the stages' folders with hard links, so assembling it costs nothing.
#
# Debian's source packages come through `apt-get source` with an apt configuration of its own, so
# the machine's apt configuration is never touched. qtdeclarative comes from Debian's qt6-declarative
# where the mirror serves it, otherwise from the archive QTDECLARATIVE_SOURCE names (by default
# ../shared/vendor/qtdeclarative-everywhere-src-6.4.2.tar.xz beside the checkout).
set -eEuo pipefail

QT_VERSION=6.4.2
OPENCV_VERSION=4.6.0
TRIPLE=x86_64-w64-mingw32

here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/../cmake/mingw-w64-toolchain.cmake"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/lumivex/windows-deps"
QTDECLARATIVE_SOURCE="${QTDECLARATIVE_SOURCE:-$here/../../shared/vendor/qtdeclarative-everywhere-src-$QT_VERSION.tar.xz}"
jobs=$(nproc)

# --- logging and steps ---------------------------------------------------------------------------

step=""
log_file=/dev/null
trap 'echo "windows-deps: FAILED in step \"$step\" (log: $log_file)" >&2; tail -n 30 "$log_file" >&2 2>/dev/null || true' ERR

run() {
  "$@" >>"$log_file" 2>&1
}

cmake_cross() {
  local deps="$1" install="$2"
  shift 2
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DLUMIVEX_WINDOWS_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$install" "$@"
}

source_dir() {
  # apt-get source unpacks into <package>-<upstream version>; the tarballs and patches sit beside.
  local dir
  dir=$(find "$sources" -mindepth 1 -maxdepth 1 -type d -name "$1" | head -n 1)
  [ -n "$dir" ] || { echo "windows-deps: no unpacked source matches $1" >&2; return 1; }
  echo "$dir"
}

# --- sources -------------------------------------------------------------------------------------

sources="$cache_root/sources"
apt_dir="$cache_root/apt"
apt_ready=0

private_apt() {
  [ "$apt_ready" = 1 ] && return 0
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/sources.list.d" "$apt_dir/etc/preferences.d"
  # The deb-src twins of the suites this machine already uses, in both of apt's formats.
  : >"$apt_dir/etc/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && { grep -E '^deb ' "$f" | sed 's/^deb /deb-src /' >>"$apt_dir/etc/sources.list" || true; }
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types: .*/Types: deb-src/' "$f" >"$apt_dir/etc/sources.list.d/$(basename "$f")"
  done
  APT_OPTS=(-o "Dir::Etc::SourceList=$apt_dir/etc/sources.list"
            -o "Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d"
            -o "Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d"
            -o "Dir::State::Lists=$apt_dir/lists"
            -o "Dir::Cache=$apt_dir/cache"
            -o "Debug::NoLocking=1")
  run apt-get "${APT_OPTS[@]}" update
  apt_ready=1
}

# The newest version first; a mirror that lacks its files (security suites often keep only the
# binaries) falls back to the release's own version, suite by suite.
apt_source() {
  local package="$1" suite
  private_apt
  for suite in "" $(sed -n 's/^Suites: //p' "$apt_dir/etc/sources.list.d/"*.sources 2>/dev/null; \
                     awk '{print $3}' "$apt_dir/etc/sources.list"); do
    if (cd "$sources" && run apt-get "${APT_OPTS[@]}" source "$package${suite:+/$suite}"); then
      return 0
    fi
    rm -rf "$sources/$package"-* "$sources/$package"_*
  done
  return 1
}

# Unpacks a Debian source package into the sources folder unless an earlier run already did.
need_source() {
  local package="$1"
  mkdir -p "$sources"
  source_dir "$package-*" >/dev/null 2>&1 && return 0
  apt_source "$package" || { echo "windows-deps: no suite serves the source of $package" >&2; return 1; }
}

# --- stages --------------------------------------------------------------------------------------
# Each stage is a function build_<stage> that installs into $out, with $log_file set; its key covers
# its own text, the helpers every stage uses, the toolchain file and the keys it is given.

stage_key() {
  local name="$1"
  shift
  { echo "$name $QT_VERSION $OPENCV_VERSION $TRIPLE $*"
    declare -f "build_$name" run cmake_cross
    for helper in ${STAGE_HELPERS[$name]:-}; do declare -f "$helper"; done
    cat "$toolchain"; } | sha256sum | cut -c1-16
}

stage_dir() {
  echo "$cache_root/stages/$1-$2"
}

# Builds one stage unless its folder is complete; the build folder goes once the stage is installed.
build_stage() {
  local name="$1" key="$2" label="$3"
  out=$(stage_dir "$name" "$key")
  if [ -f "$out/.complete" ]; then
    echo "windows-deps: $name: reusing $out"
    return 0
  fi
  work="$cache_root/work/$name-$key"
  rm -rf "$out" "$work"
  mkdir -p "$out/logs" "$work"
  log_file="$out/logs/$name.log"
  step="$label"
  local started
  started=$(date +%s)
  echo "windows-deps: $name: $label ..."
  "build_$name"
  rm -rf "$work"
  touch "$out/.complete"
  echo "windows-deps: $name: done in $(( $(date +%s) - started )) s ($out)"
}

declare -A STAGE_HELPERS=([qtbase]="wintab_headers" [qtdeclarative]="qtdeclarative_source trim_qtdeclarative")

build_imagelibs() {
  need_source libpng1.6
  need_source libjpeg-turbo
  need_source tiff
  local zlib="/usr/$TRIPLE/lib/libz.a"
  [ -f "$zlib" ] || { echo "windows-deps: $zlib is missing (libz-mingw-w64-dev)" >&2; false; }
  run cmake_cross "$out" "$out" -S "$(source_dir 'libpng1.6-*')" -B "$work/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$TRIPLE/include"
  run cmake --build "$work/libpng" -j "$jobs" --target install
  # libjpeg-turbo's SIMD decoder (assembled by nasm) is what makes JPEG decoding as fast as on Linux.
  command -v nasm >/dev/null || { echo "windows-deps: nasm is missing" >&2; false; }
  run cmake_cross "$out" "$out" -S "$(source_dir 'libjpeg-turbo-*')" -B "$work/libjpeg" -DENABLE_SHARED=OFF \
    -DENABLE_STATIC=ON -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm -DWITH_TURBOJPEG=OFF \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
  run cmake --build "$work/libjpeg" -j "$jobs" --target install
  run cmake_cross "$out" "$out" -S "$(source_dir 'tiff-*')" -B "$work/tiff" -DBUILD_SHARED_LIBS=OFF \
    -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dzlib=ON -Djpeg=OFF \
    -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlibdeflate=OFF -Dcxx=OFF \
    -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$TRIPLE/include"
  run cmake --build "$work/tiff" -j "$jobs" --target install
}

build_opencv() {
  need_source opencv
  local zlib="/usr/$TRIPLE/lib/libz.a" img="$imagelibs_dir"
  run cmake_cross "$img" "$out" -S "$(source_dir 'opencv-*')" -B "$work/opencv" \
    -DBUILD_LIST=core,imgproc,imgcodecs -DBUILD_SHARED_LIBS=ON \
    -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_opencv_apps=OFF -DBUILD_DOCS=OFF \
    -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_TIFF=OFF -DBUILD_WEBP=OFF -DBUILD_OPENJPEG=OFF \
    -DBUILD_JASPER=OFF -DBUILD_OPENEXR=OFF -DBUILD_PROTOBUF=OFF -DBUILD_JAVA=OFF -DBUILD_opencv_python3=OFF \
    -DWITH_PNG=ON -DWITH_JPEG=ON -DWITH_TIFF=ON -DWITH_WEBP=OFF -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF \
    -DWITH_OPENEXR=OFF -DWITH_IMGCODEC_HDR=OFF -DWITH_IMGCODEC_SUNRASTER=OFF -DWITH_IMGCODEC_PXM=OFF \
    -DWITH_IMGCODEC_PFM=OFF -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_LAPACK=OFF -DWITH_EIGEN=OFF \
    -DWITH_OPENCL=OFF -DWITH_PROTOBUF=OFF -DWITH_ADE=OFF -DWITH_QUIRC=OFF -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF \
    -DWITH_DSHOW=OFF -DWITH_MSMF=OFF -DWITH_WIN32UI=OFF -DWITH_GTK=OFF -DWITH_QT=OFF -DWITH_VTK=OFF \
    -DWITH_OPENMP=OFF -DWITH_TBB=OFF -DWITH_PTHREADS_PF=ON -DHAVE_PTHREAD=1 -DWITH_DIRECTX=OFF \
    -DWITH_OBSENSOR=OFF -DWITH_CAROTENE=OFF -DWITH_VA=OFF -DWITH_VA_INTEL=OFF -DWITH_1394=OFF \
    -DOPENCV_GENERATE_PKGCONFIG=OFF -DOPENCV_ENABLE_NONFREE=OFF -DCV_TRACE=OFF \
    -DCMAKE_CXX_FLAGS="-Wa,-muse-unaligned-vector-move" -DCMAKE_C_FLAGS="-Wa,-muse-unaligned-vector-move" \
    -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$TRIPLE/include" \
    -DPNG_LIBRARY="$img/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$img/include" \
    -DJPEG_LIBRARY="$img/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$img/include" \
    -DTIFF_LIBRARY="$img/lib/libtiff.a" -DTIFF_INCLUDE_DIR="$img/include"
  run cmake --build "$work/opencv" -j "$jobs" --target install
}

# Debian's dfsg tarball has no wintab headers, which the windows platform plugin includes; Wine's
# LGPL copies serve once the three Wine-only macros they use are given plain meanings.
wintab_headers() {
  local qt="$1" target="$1/src/3rdparty/wintab"
  [ -f "$target/wintab.h" ] && return 0
  [ -f /usr/include/wine/wine/windows/wintab.h ] || { echo "windows-deps: Wine's wintab.h is missing (libwine-dev)" >&2; return 1; }
  mkdir -p "$target"
  {
    echo '#ifndef WINELIB_NAME_AW'
    echo '#  ifdef UNICODE'
    echo '#    define WINELIB_NAME_AW(name) name##W'
    echo '#  else'
    echo '#    define WINELIB_NAME_AW(name) name##A'
    echo '#  endif'
    echo '#endif'
    echo '#ifndef DECL_WINELIB_TYPE_AW'
    echo '#  define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;'
    echo '#endif'
    echo '#ifndef API'
    echo '#  define API WINAPI'
    echo '#endif'
    cat /usr/include/wine/wine/windows/wintab.h
  } >"$target/wintab.h"
  cp /usr/include/wine/wine/windows/pktdef.h "$target/pktdef.h"
}

build_qtbase() {
  need_source qt6-base
  local qt
  qt=$(source_dir 'qt6-base-*')
  wintab_headers "$qt"
  local features=()
  for f in sql printsupport dbus xml opengl vulkan direct2d1_1 openssl icu glib zstd brotli \
           system_zlib system_png system_jpeg system_freetype system_harfbuzz system_pcre2 \
           system_doubleconversion system_libb2 system_md4c system_sqlite system_textmarkdownreader \
           sql_sqlite fontconfig freetype egl eglfs linuxfb vnc xcb evdev libinput tslib mtdev \
           gssapi libproxy accessibility_atspi_bridge; do
    features+=("-DFEATURE_$f=OFF")
  done
  run cmake_cross "$out" "$out" -S "$qt" -B "$work/qtbase" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DINPUT_opengl=no -DFEATURE_widgets=ON -DFEATURE_network=ON -DFEATURE_concurrent=ON -DFEATURE_testlib=ON \
    -DFEATURE_direct2d=ON "${features[@]}"
  run cmake --build "$work/qtbase" -j "$jobs"
  run cmake --install "$work/qtbase"
}

# Debian's source package first, as for qtbase; the upstream archive of the same version otherwise.
qtdeclarative_source() {
  if source_dir 'qt6-declarative-*' >/dev/null 2>&1 || apt_source qt6-declarative; then
    source_dir 'qt6-declarative-*'
    return 0
  fi
  echo "windows-deps: the mirror does not serve qt6-declarative; unpacking $QTDECLARATIVE_SOURCE" >>"$log_file"
  [ -f "$QTDECLARATIVE_SOURCE" ] || { echo "windows-deps: no qtdeclarative source: set QTDECLARATIVE_SOURCE to qtdeclarative-everywhere-src-$QT_VERSION.tar.xz" >&2; return 1; }
  local dir="$sources/qtdeclarative-everywhere-src-$QT_VERSION"
  [ -d "$dir" ] || tar -xf "$QTDECLARATIVE_SOURCE" -C "$sources"
  echo "$dir"
}

# Only what the library (QtQml) and the reference window (Qt Quick, its controls in the Basic style,
# its layouts) load is built: the other styles, the native style, dialogs, labs, particles, Qt Quick
# Test, Quick Widgets, the QtCore import and the developer tools' libraries are taken out, which
# leaves about a third of the module's build.
trim_qtdeclarative() {
  local src="$1"
  sed -i -E 's/^( *)add_subdirectory\((core|qmltest|quicktestutils|quickwidgets|quickdialogs2|quicknativestyle|quickcontrolstestutils|labs)\)/\1# trimmed: &/' \
    "$src/src/CMakeLists.txt"
  sed -i -E 's/^( *)add_subdirectory\((designer|fusion|imagine|material|universal|windows|macos|ios)\)/\1# trimmed: &/' \
    "$src/src/quickcontrols2/CMakeLists.txt"
  sed -i -E 's/^( *)add_subdirectory\(qmllint\)/\1# trimmed: &/' "$src/src/plugins/CMakeLists.txt"
}

build_qtdeclarative() {
  local src
  src=$(qtdeclarative_source)
  cp -r "$src" "$work/src"
  trim_qtdeclarative "$work/src"
  # Qt's installs are relocatable: the module is installed over a copy of qtbase, and that copy is
  # what the project builds against.
  cp -a "$qtbase_dir/." "$out/"
  rm -f "$out/.complete"
  run "$out/bin/qt-cmake" -G Ninja -S "$work/src" -B "$work/build" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DLUMIVEX_WINDOWS_DEPS="$out" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$out" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DFEATURE_qml_devtools=OFF -DFEATURE_qml_debug=OFF -DFEATURE_qml_profiler=OFF -DFEATURE_qml_preview=OFF \
    -DFEATURE_quick_particles=OFF -DFEATURE_quick_designer=OFF -DFEATURE_qml_xmllistmodel=OFF
  # Without the host's shader baker qtdeclarative leaves Qt Quick out and says so only in a note.
  [ -f "$work/build/src/quick/cmake_install.cmake" ] \
    || { echo "windows-deps: qtdeclarative configured without Qt Quick (is qt6-shader-baker installed?)" >&2; false; }
  run cmake --build "$work/build" -j "$jobs"
  run cmake --install "$work/build"
}

# --- the folder the project builds against --------------------------------------------------------

imagelibs_key=$(stage_key imagelibs)
opencv_key=$(stage_key opencv "$imagelibs_key")
qtbase_key=$(stage_key qtbase)
qtdeclarative_key=$(stage_key qtdeclarative "$qtbase_key")
key=$(echo "$imagelibs_key $opencv_key $qtdeclarative_key" | sha256sum | cut -c1-16)
prefix="$cache_root/$key"
imagelibs_dir=$(stage_dir imagelibs "$imagelibs_key")
qtbase_dir=$(stage_dir qtbase "$qtbase_key")

if [ "${1:-}" = "--prefix" ]; then
  echo "$prefix"
  exit 0
fi

if [ -f "$prefix/.complete" ]; then
  echo "windows-deps: reusing $prefix"
  exit 0
fi

all_started=$(date +%s)
echo "windows-deps: assembling $prefix"
rm -rf "$cache_root/work"
build_stage imagelibs "$imagelibs_key" "zlib, libpng, libjpeg-turbo with SIMD and libtiff (static)"
build_stage opencv "$opencv_key" "OpenCV $OPENCV_VERSION (core, imgproc, imgcodecs)"
build_stage qtbase "$qtbase_key" "Qt qtbase $QT_VERSION (Core, Gui, Widgets, Network, Concurrent, Test; the windows and minimal platforms)"
build_stage qtdeclarative "$qtdeclarative_key" "Qt qtdeclarative $QT_VERSION (Qml, QmlModels, Quick, Quick Controls with the Basic style, Quick Layouts)"

step="assemble the prefix"
rm -rf "$prefix"
mkdir -p "$prefix/bin"
for stage in "imagelibs $imagelibs_key" "opencv $opencv_key" "qtdeclarative $qtdeclarative_key"; do
  # shellcheck disable=SC2086
  cp -al --remove-destination "$(stage_dir $stage)/." "$prefix/"
done
rm -rf "$prefix/logs" "$prefix/.complete"
# The MinGW runtime the programs need beside them.
for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
  found=$("$TRIPLE-g++-posix" -print-file-name="$dll")
  [ -f "$found" ] || found=$(find /usr/lib/gcc/$TRIPLE /usr/$TRIPLE -name "$dll" -path '*posix*' | head -n 1)
  [ -f "$found" ] || found=$(find /usr/lib/gcc/$TRIPLE /usr/$TRIPLE -name "$dll" | head -n 1)
  [ -f "$found" ] || { echo "windows-deps: $dll not found" >&2; false; }
  cp "$found" "$prefix/bin/"
done
touch "$prefix/.complete"
echo "windows-deps: complete in $(( $(date +%s) - all_started )) s: $prefix"
