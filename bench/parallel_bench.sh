#!/usr/bin/env bash
# Times one batch of 2,000 small layers of every kind converted with -j 1 and with -j 2, checks that
# both wrote the same bytes, and prints both wall times and their ratio. The layers are 400 copies of
# the demo project of examples/ (a project and its five layers, one of each kind), each in a folder
# of its own, as an archive holds them: the batch gives each project an output folder.
#
#   bench/parallel_bench.sh [BUILD_DIR] [WORK_DIR] [MODE] [JOBS]
#
# MODE is a convert mode (default avl: every kind with drawing parameters, QGIS styles and ArcView
# legends); JOBS the -j of the second run (default 2).
#
# LATENCY_US=N makes every stat, open and directory read of the runs N microseconds slower (strace
# injects the delay), as on a network share, where the folder search is no longer a few
# milliseconds: with several jobs the rows convert while the search goes on.
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
mode=${3:-avl}
jobs=${4:-2}
here=$(cd "$(dirname "$0")/.." && pwd)
korvexpro="$build/bin/korvexpro"
copies=400

mkdir -p "$dir"
if [ ! -d "$dir/layers" ]; then
  for i in $(seq -w 1 $copies); do
    mkdir -p "$dir/layers/f$i"
    cp "$here"/examples/*.w? "$here"/examples/*.mpj "$dir/layers/f$i/"
  done
fi
echo "$(find "$dir/layers" -type f -name '*.w?' | wc -l) layers in $(find "$dir/layers" -name '*.mpj' | wc -l) projects, $(du -sh "$dir/layers" | cut -f1)"
cat "$dir"/layers/*/* > /dev/null  # the sources in the page cache
# Other work on the machine takes cores from -j 2; the load says how much there was.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

run() {  # jobs, round: prints the wall time in seconds
  local out="$dir/out-j$1-$2"
  rm -rf "$out"
  local start end
  start=$(date +%s.%N)
  local slow=()
  if [ -n "${LATENCY_US:-}" ]; then
    slow=(strace -f -qq -o /dev/null -e trace=newfstatat,getdents64,openat
          -e "inject=newfstatat,getdents64,openat:delay_exit=$LATENCY_US")
  fi
  "${slow[@]}" "$korvexpro" --config "$dir/settings.ini" convert -q --mode "$mode" --lib "$here/examples" \
    -j "$1" -o "$out" "$dir/layers" > "$dir/stdout-j$1.txt"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

# Rounds of both, alternating; the fastest of each counts (the machine may be shared).
rounds=${ROUNDS:-5}
one=999999
many=999999
for r in $(seq "$rounds"); do
  t=$(run 1 "$r")
  one=$(awk -v a="$one" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  t=$(run "$jobs" "$r")
  many=$(awk -v a="$many" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  echo "round $r: best so far -j 1 $one s, -j $jobs $many s"
done
tail -n 1 "$dir/stdout-j1.txt"
if diff -r -q "$dir/out-j1-1" "$dir/out-j$jobs-1" > /dev/null; then
  echo "outputs of -j 1 and -j $jobs: identical ($(find "$dir/out-j1-1" -type f | wc -l) files)"
else
  echo "outputs of -j 1 and -j $jobs DIFFER" >&2
  exit 1
fi
rm -rf "$dir"/out-j*
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v a="$one" -v b="$many" -v j="$jobs" -v c="$(nproc)" 'BEGIN {
  printf "-j 1: %.2f s   -j %d: %.2f s   ratio %.2f (on %d cores)\n", a, j, b, b / a, c }'
