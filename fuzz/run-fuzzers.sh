#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a scratch copy of its seed corpus:
#   fuzz/run-fuzzers.sh <build dir> <seconds per target> [target...]
# The filter-host targets use the machine-wide channel names, so when the user may make a
# mount namespace they get a private /dev/shm and cannot disturb a filter-host test running
# at the same time. Findings land in <build dir>/fuzz-findings/<target>/.
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
           -artifact_prefix="$findings/" -print_final_stats=1 "$work/corpus")
  echo "== $target, $seconds s"
  if [[ $target == fuzz_ps* ]] && unshare --mount true 2>/dev/null; then
    TMPDIR="$work/tmp" unshare --mount sh -c 'mount -t tmpfs -o mode=1777 tmpfs /dev/shm && exec "$@"' sh "${command[@]}" \
      > "$work/log" 2>&1
  else
    TMPDIR="$work/tmp" "${command[@]}" > "$work/log" 2>&1
  fi
  rc=$?
  grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE|^==[0-9]+==ERROR|SUMMARY|property broken|Test unit written' "$work/log" | tail -8
  if [ $rc -ne 0 ]; then
    echo "   $target FAILED (exit $rc), log: $work/log"
    status=1
  fi
done
exit $status
