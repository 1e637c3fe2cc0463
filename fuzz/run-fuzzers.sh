#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a scratch copy of its seed corpus:
#   fuzz/run-fuzzers.sh <build dir> <seconds per target> [target...]
# With FUZZ_RUNS set, each target stops after that many inputs instead (the seconds still bound
# it). Findings land in <build dir>/fuzz-findings/<target>/.
set -uo pipefail

build_dir=$(realpath "$1")
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_psrecord fuzz_pssettings fuzz_cliarguments fuzz_climerge fuzz_clifileopen)
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../tools/sanitizers/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen

status=0
for target in "${targets[@]}"; do
  work="$build_dir/fuzz-work/$target"
  findings="$build_dir/fuzz-findings/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/tmp" "$findings"
  cp "$here/corpus/$target"/* "$work/corpus/"
  command=("$build_dir/bin/$target" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=120
           -artifact_prefix="$findings/" -print_final_stats=1)
  [ -n "${FUZZ_RUNS:-}" ] && command+=(-runs="$FUZZ_RUNS")
  echo "== $target, ${FUZZ_RUNS:+$FUZZ_RUNS inputs or }$seconds s"
  started=$(date +%s)
  TMPDIR="$work/tmp" "${command[@]}" "$work/corpus" > "$work/log" 2>&1
  rc=$?
  echo "   took $(( $(date +%s) - started )) s"
  grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE|^==[0-9]+==ERROR|SUMMARY|property broken|Test unit written' "$work/log" | tail -8
  if [ $rc -ne 0 ]; then
    echo "   $target FAILED (exit $rc), log: $work/log"
    status=1
  fi
done
exit $status
