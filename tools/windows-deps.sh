#!/usr/bin/env bash
# Builds the Windows (x86_64-w64-mingw32, POSIX threads) dependencies of the project: Qt's qtbase
# and OpenCV, with the image libraries OpenCV needs, all from Debian 12's source packages.
#
#   tools/windows-deps.sh            build into the cache unless it is already there
#   tools/windows-deps.sh --prefix   print the cache folder this script builds (or built) into
#
# The result lands in ${XDG_CACHE_HOME:-$HOME/.cache}/lumivex/windows-deps/<key>. The key is made
# of the versions and of this script's own text, so a change to how the dependencies are built
# builds them again, and every checkout of the same script shares one build per machine.
#
# Sources come through `apt-get source` with an apt configuration of its own (its own sources
# list, lists and cache folders), so the machine's apt configuration is never touched.
set -eEuo pipefail

QT_VERSION=6.4.2
OPENCV_VERSION=4.6.0
TRIPLE=x86_64-w64-mingw32
SOURCES=(qt6-base opencv libpng1.6 libjpeg-turbo tiff)

here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/../cmake/mingw-w64-toolchain.cmake"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/lumivex/windows-deps"
key=$( { echo "qt $QT_VERSION opencv $OPENCV_VERSION $TRIPLE"; cat "$0" "$toolchain"; } | sha256sum | cut -c1-16)
prefix="$cache_root/$key"

if [ "${1:-}" = "--prefix" ]; then
  echo "$prefix"
  exit 0
fi

if [ -f "$prefix/.complete" ]; then
  echo "windows-deps: reusing $prefix"
  exit 0
fi

work="$cache_root/work-$key"
sources="$cache_root/sources"
jobs=$(nproc)
step=""
step_started=0
all_started=$(date +%s)

trap 'echo "windows-deps: FAILED in step \"$step\" (log: $work/logs/$log_name.log)" >&2; tail -n 30 "$work/logs/$log_name.log" >&2 2>/dev/null || true' ERR

begin() {
  step="$1"
  log_name="$2"
  step_started=$(date +%s)
  echo "windows-deps: $step ..."
}

finish() {
  echo "windows-deps: $step done in $(( $(date +%s) - step_started )) s"
}

run() {
  "$@" >>"$work/logs/$log_name.log" 2>&1
}

# Builds of an older script are of no further use; the unpacked sources are kept across keys.
for stale in "$cache_root"/work-*; do
  [ "$stale" != "$work" ] && [ -d "$stale" ] && rm -rf "$stale"
done
mkdir -p "$work/logs" "$sources" "$prefix"

# --- sources -------------------------------------------------------------------------------------

private_apt() {
  local apt="$work/apt"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/etc/sources.list.d" "$apt/etc/preferences.d"
  # The deb-src twins of the suites this machine already uses, in both of apt's formats.
  : >"$apt/etc/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && { grep -E '^deb ' "$f" | sed 's/^deb /deb-src /' >>"$apt/etc/sources.list" || true; }
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types: .*/Types: deb-src/' "$f" >"$apt/etc/sources.list.d/$(basename "$f")"
  done
  APT_OPTS=(-o "Dir::Etc::SourceList=$apt/etc/sources.list"
            -o "Dir::Etc::SourceParts=$apt/etc/sources.list.d"
            -o "Dir::Etc::PreferencesParts=$apt/etc/preferences.d"
            -o "Dir::State::Lists=$apt/lists"
            -o "Dir::Cache=$apt/cache"
            -o "Debug::NoLocking=1")
}

# The newest version first; a mirror that lacks its files (security suites often keep only the
# binaries) falls back to the release's own version, suite by suite.
fetch_one() {
  local package="$1" suite
  for suite in "" $(sed -n 's/^Suites: //p' "$work/apt/etc/sources.list.d/"*.sources 2>/dev/null; \
                     awk '{print $3}' "$work/apt/etc/sources.list"); do
    if run apt-get "${APT_OPTS[@]}" source "$package${suite:+/$suite}"; then
      return 0
    fi
    rm -rf "$sources/$package"-* "$sources/$package"_*
  done
  echo "windows-deps: no suite serves the source of $package" >&2
  return 1
}

fetch_sources() {
  begin "fetch the Debian source packages (${SOURCES[*]})" fetch
  private_apt
  run apt-get "${APT_OPTS[@]}" update
  cd "$sources"
  for package in "${SOURCES[@]}"; do
    # A source unpacked by an earlier, interrupted run is taken as it is.
    if ! source_dir "$package-*" >/dev/null 2>&1; then
      fetch_one "$package"
    fi
  done
  finish
}

source_dir() {
  # apt-get source unpacks into <package>-<upstream version>; the tarballs and patches sit beside.
  local dir
  dir=$(find "$sources" -mindepth 1 -maxdepth 1 -type d -name "$1" | head -n 1)
  [ -n "$dir" ] || { echo "windows-deps: no unpacked source matches $1" >&2; return 1; }
  echo "$dir"
}

cmake_cross() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DLUMIVEX_WINDOWS_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
}

# --- image libraries for OpenCV ------------------------------------------------------------------

build_image_libraries() {
  begin "zlib, libpng, libjpeg-turbo and libtiff (static)" imagelibs
  local zlib="/usr/$TRIPLE/lib/libz.a"
  [ -f "$zlib" ] || { echo "windows-deps: $zlib is missing (libz-mingw-w64-dev)" >&2; false; }
  run cmake_cross -S "$(source_dir 'libpng1.6-*')" -B "$work/build/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$TRIPLE/include"
  run cmake --build "$work/build/libpng" -j "$jobs" --target install
  run cmake_cross -S "$(source_dir 'libjpeg-turbo-*')" -B "$work/build/libjpeg" -DENABLE_SHARED=OFF \
    -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON
  run cmake --build "$work/build/libjpeg" -j "$jobs" --target install
  run cmake_cross -S "$(source_dir 'tiff-*')" -B "$work/build/tiff" -DBUILD_SHARED_LIBS=OFF \
    -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dzlib=ON -Djpeg=OFF \
    -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlibdeflate=OFF -Dcxx=OFF \
    -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$TRIPLE/include"
  run cmake --build "$work/build/tiff" -j "$jobs" --target install
  finish
}

# --- OpenCV --------------------------------------------------------------------------------------

build_opencv() {
  begin "OpenCV $OPENCV_VERSION (core, imgproc, imgcodecs)" opencv
  local zlib="/usr/$TRIPLE/lib/libz.a"
  run cmake_cross -S "$(source_dir 'opencv-*')" -B "$work/build/opencv" \
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
    -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
    -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include" \
    -DTIFF_LIBRARY="$prefix/lib/libtiff.a" -DTIFF_INCLUDE_DIR="$prefix/include"
  run cmake --build "$work/build/opencv" -j "$jobs" --target install
  finish
}

# --- Qt ------------------------------------------------------------------------------------------

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

build_qt() {
  begin "Qt qtbase $QT_VERSION (Core, Gui, Widgets, Network, Concurrent, Test; windows, offscreen, minimal)" qtbase
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
  run cmake_cross -S "$qt" -B "$work/build/qtbase" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DINPUT_opengl=no -DFEATURE_widgets=ON -DFEATURE_network=ON -DFEATURE_concurrent=ON -DFEATURE_testlib=ON \
    -DFEATURE_direct2d=ON "${features[@]}"
  run cmake --build "$work/build/qtbase" -j "$jobs"
  run cmake --install "$work/build/qtbase"
  finish
}

# --- the MinGW runtime beside them ----------------------------------------------------------------

copy_runtime() {
  begin "the MinGW runtime DLLs" runtime
  mkdir -p "$prefix/bin"
  for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
    local found
    found=$("$TRIPLE-g++-posix" -print-file-name="$dll")
    [ -f "$found" ] || found=$(find /usr/lib/gcc/$TRIPLE /usr/$TRIPLE -name "$dll" -path '*posix*' | head -n 1)
    [ -f "$found" ] || found=$(find /usr/lib/gcc/$TRIPLE /usr/$TRIPLE -name "$dll" | head -n 1)
    [ -f "$found" ] || { echo "windows-deps: $dll not found" >&2; false; }
    run cp "$found" "$prefix/bin/"
  done
  finish
}

echo "windows-deps: building into $prefix (work folder $work)"
fetch_sources
build_image_libraries
build_opencv
build_qt
copy_runtime
touch "$prefix/.complete"
echo "windows-deps: complete in $(( $(date +%s) - all_started )) s: $prefix"
