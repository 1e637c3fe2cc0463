#!/usr/bin/env bash
# The C++ sources of the product (library, imaging stand-in, application, tools, benchmarks and
# fuzz targets) in the format `.clang-format` describes. The tests keep their hand layout: Qt
# Test's data rows (newRow() << "a" << "b") would be broken one value per line.
#   tools/format.sh [SOURCE_DIR]           rewrites every file that differs
#   tools/format.sh --check [SOURCE_DIR]   lists them and fails; exit 77 without clang-format
set -euo pipefail
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
cd "${1:-$(dirname "$0")/..}"

formatter=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$formatter" ]; then
  echo "clang-format is not installed (tools/setup-deps.sh installs it)"
  exit 77
fi

folders=(integrations imaging app filesafety tools bench fuzz)
# Tracked files when this is a checkout, every source outside build/ otherwise (a source tarball).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- "${folders[@]/%//*.cpp}" "${folders[@]/%//*.h}")
else
  mapfile -t files < <(find "${folders[@]}" \( -name '*.cpp' -o -name '*.h' \) -print)
fi

if [ $check -eq 0 ]; then
  "$formatter" -i --style=file "${files[@]}"
  exit 0
fi
# One run over all files: each place that differs is reported as "FILE:LINE:COL: error: ...".
status=0
report=$("$formatter" --style=file --dry-run --Werror "${files[@]}" 2>&1) || status=$?
mapfile -t differing < <(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ $status -ne 0 ] && [ ${#differing[@]} -eq 0 ]; then
  printf 'clang-format failed:\n%s\n' "$report"
  exit 1
fi
if [ ${#differing[@]} -gt 0 ]; then
  echo "${#differing[@]} of ${#files[@]} files differ from .clang-format (tools/format.sh rewrites them):"
  printf '  %s\n' "${differing[@]}"
  exit 1
fi
echo "all ${#files[@]} files keep the format"
