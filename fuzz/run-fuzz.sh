#!/usr/bin/env bash
# Runs each fuzz target for a bounded time on its seed corpus and fails on any finding: a crash, a
# sanitizer report, a leak, or an input slower than 1 s (-timeout=1). Prints, per target, the
# executions per second, the corpus size and the number of findings.
#
# Usage: fuzz/run-fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]   (BUILD_DIR configured with -DKVX_FUZZ=ON)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
work="$build/fuzz-run"
rm -rf "$work"
"$build/bin/kvx_fuzz_seeds" "$work/seeds"
status=0
for target in layer project; do
  corpus="$work/corpus/$target"
  artifacts="$work/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  cp "$work/seeds/$target"/* "$corpus/"
  find "$src/examples" -maxdepth 1 -type f ! -name '*.sh' -exec cp {} "$corpus/" \;
  find "$src/fuzz/regressions/$target" -type f ! -name README.md -exec cp {} "$corpus/" \;
  log="$work/$target.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/kvx_fuzz_$target" -max_total_time="$seconds" -timeout=1 -max_len=65536 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" > "$log" 2>&1
  rc=$?
  set -e
  findings=$(find "$artifacts" -type f | wc -l)
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  size=$(find "$corpus" -type f | wc -l)
  echo "fuzz $target: ${runs:-?} runs in ${seconds} s, ${execs:-?} exec/s, corpus $size inputs, $findings findings (exit $rc)"
  if [ "$rc" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "fuzz $target FAILED; its log: $log; keep each input of $artifacts in fuzz/regressions/$target/"
    grep -E "ERROR|SUMMARY|runtime error|Timeout|leak" "$log" | head -20 || true
    status=1
  fi
done
exit $status
