#!/usr/bin/env bash
# Generates a 1,000,000-line layer (20 vertices each) and a 1,000,000-point layer, then times in
# one run: reading each file with cat, and reading every feature with its attributes.
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
"$build/bin/kvx_reader_bench" generate "$dir"
for f in "$dir/bench_lines.wl" "$dir/bench_points.wt"; do
  ls -l "$f"
  cat "$f" > /dev/null  # warm the page cache for both readers alike
  t0=$(date +%s.%N); cat "$f" > /dev/null; t1=$(date +%s.%N)
  out=$("$build/bin/kvx_reader_bench" read "$f")
  echo "$out"
  awk -v a="$t0" -v b="$t1" -v line="$out" 'BEGIN {
    split(line, w, " in "); split(w[2], s, " "); cat = b - a;
    printf "cat: %.3f s; reader: %.3f s; reader/cat = %.1f\n", cat, s[1], s[1] / cat }'
done
