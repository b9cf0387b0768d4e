#!/usr/bin/env bash
# Times, in one run, the conversion of a generated 1,000,000-line layer (20 vertices a line) with
# and without reprojection from Beijing 1954 Gauss-Krüger (central meridian 105°, coordinates in
# millimetres) to CGCS2000 (EPSG:4490), and prints the ratio of the two.
#
#   bench/reprojection_bench.sh [BUILD_DIR] [WORK_DIR] [COUNT]
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
count=${3:-}
bench="$build/bin/kvx_convert_bench"
source="$dir/bench_lines.wl"
from="+proj=tmerc +lat_0=0 +lon_0=105 +k=1 +x_0=500000 +y_0=0 +ellps=krass +units=mm +no_defs +type=crs"
mkdir -p "$dir"
[ -f "$source" ] || "$bench" generate "$dir" $count
cat "$source" > /dev/null  # the source in the page cache
rm -f "$dir"/plain.* "$dir"/moved.*
plain=$("$bench" convert "$source" "$dir/plain" 0)
moved=$("$bench" convert "$source" "$dir/moved" 0 EPSG:4490 "$from")
echo "without reprojection: $plain"
echo "to EPSG:4490:         $moved"
awk -v a="$plain" -v b="$moved" 'BEGIN {
  split(a, x, " in "); split(b, y, " in ");
  printf "reprojected / plain = %.2f\n", y[2] / x[2] }'
