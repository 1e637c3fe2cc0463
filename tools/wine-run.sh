#!/usr/bin/env bash
# Runs one Windows program of a Windows build under wine64, as ctest's emulator:
#
#   tools/wine-run.sh BUILD_DIR PROGRAM.exe [ARGUMENTS...]
#
# The build has a Wine prefix of its own (BUILD_DIR/wineprefix), made on first use. The DLLs of
# the build, of Qt, of OpenCV and of the MinGW runtime are found through WINEPATH, so nothing
# needs to be copied beside the programs.
set -euo pipefail

build=$(cd "$1" && pwd)
shift

deps=$(sed -n 's/^LUMIVEX_WINDOWS_DEPS:PATH=//p' "$build/CMakeCache.txt")
[ -n "$deps" ] || { echo "wine-run: $build/CMakeCache.txt names no LUMIVEX_WINDOWS_DEPS" >&2; exit 1; }

# Debian's wine64 package keeps its programs in /usr/lib/wine; the wine package adds wrappers.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEPREFIX="$build/wineprefix"
# OV_WINEDEBUG passes Wine's debug channels through (+relay shows each DLL and TLS callback).
export WINEDEBUG=${OV_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

windows_path() {
  echo "Z:${1//\//\\}"
}

# A fresh prefix: Wine's own set-up, then the two values the programs need. Without Graphics=null
# no window can be made without an X server, not even Qt's internal message windows; Boost names
# its shared-memory folder after the BootId that Windows keeps, which a fresh prefix lacks.
prepare_prefix() {
  "$wine64" wineboot --init >/dev/null 2>&1
  "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
  "$wine64" reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management\PrefetchParameters' \
    /v BootId /t REG_DWORD /d 1 /f >/dev/null 2>&1
  "$wineserver" -w
  touch "$WINEPREFIX/.lumivex-ready"
}

if [ ! -f "$WINEPREFIX/.lumivex-ready" ]; then
  # ctest starts several programs at once; one of them makes the prefix, the others wait.
  mkdir -p "$WINEPREFIX"
  exec 9>"$build/wineprefix.lock"
  flock 9
  [ -f "$WINEPREFIX/.lumivex-ready" ] || prepare_prefix
  flock -u 9
  exec 9>&-
fi

# The DLLs and plugins of the build and of the dependencies, found through the path. With
# OV_WINE_OWN_FOLDER=1 the program finds them beside itself instead, as on a tester's machine (an
# unzipped package), and nothing else is on the path.
if [ "${OV_WINE_OWN_FOLDER:-}" = 1 ]; then
  unset WINEPATH
else
  dll_folders=("$build/bin" "$deps/bin")
  for folder in "$deps"/x64/mingw/bin "$deps"/lib; do
    [ -d "$folder" ] && dll_folders+=("$folder")
  done
  winepath=""
  for folder in "${dll_folders[@]}"; do
    winepath+="${winepath:+;}$(windows_path "$folder")"
  done
  export WINEPATH="$winepath${WINEPATH:+;$WINEPATH}"
  export WINEQT_PLUGIN_PATH="$(windows_path "$deps/plugins")"
fi

# Wine hands no Unix variable named QT_* to a Windows program; WINEQT_X arrives there as QT_X.
while IFS='=' read -r name value; do
  case "$name" in
    QT_*) export "WINE$name=$value" ;;
  esac
done < <(env)
# Qt's messages and QtTest's text go to the debugger output unless told otherwise.
export WINEQT_FORCE_STDERR_LOGGING=1
# The Qt built for Windows here has no offscreen plugin; minimal shows no window either.
[ -n "${QT_QPA_PLATFORM:-}" ] || export WINEQT_QPA_PLATFORM=minimal

# The first program of a prefix session starts Wine's own services, and they inherit its standard
# output: a test run under ctest would then not end, to ctest, until the whole prefix is idle.
# Started here with nothing to inherit, they serve the program that follows.
"$wine64" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
exec "$wine64" "$@"
