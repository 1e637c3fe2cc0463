#!/usr/bin/env bash
# Runs every benchmark program that the build produced (bench_*), one after another.
set -euo pipefail
build_dir=${1:-build/default}
status=0
for bench in "$build_dir"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" || status=1
done
exit $status
