#!/usr/bin/env bash
# Times, side by side in one run, a generated 1,000,000-line layer (20 vertices a line, 8 attribute
# fields) converted to a GeoPackage table, and `ogr2ogr -f GPKG` copying our own shapefile of the
# same layer into a GeoPackage; prints both times, their ratio (target: at most 0.5) and the peak
# resident memory of each (GNU time's maximum resident set size; ours also without the pages of
# the memory-mapped source file).
#
#   bench/gpkg_bench.sh [BUILD_DIR] [WORK_DIR] [COUNT]
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
count=${3:-}
bench="$build/bin/kvx_convert_bench"
source="$dir/bench_lines.wl"
command -v ogr2ogr > /dev/null || { echo "ogr2ogr (gdal-bin) is not installed"; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time (the time package) is not installed"; exit 1; }
mkdir -p "$dir"
[ -f "$source" ] || "$bench" generate "$dir" $count
cat "$source" > /dev/null  # the source in the page cache
rm -f "$dir"/shapes.* "$dir"/ours.* "$dir"/theirs.gpkg

# Our shapefile of the layer: what ogr2ogr copies.
"$bench" convert "$source" "$dir/shapes" 2 > /dev/null 2>&1
cat "$dir"/shapes.* > /dev/null

# seconds and peak kilobytes of a command
measure() {
  local log="$dir/time.log"
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$log" "$@" > /dev/null 2> "$dir/stderr.log"
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc) $(tail -1 "$log")"
}
read -r ours oursKb < <(measure "$bench" convert-gpkg "$source" "$dir/ours" 2)
oursMemory=$(grep "peak anonymous" "$dir/stderr.log" || true)
read -r theirs theirsKb < <(measure ogr2ogr -f GPKG "$dir/theirs.gpkg" "$dir/shapes.shp")
echo "korvexpro to GeoPackage:         ${ours} s, peak ${oursKb} kB (with the mapped source file; ${oursMemory})"
echo "ogr2ogr -f GPKG of our shapefile: ${theirs} s, peak ${theirsKb} kB"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "korvexpro / ogr2ogr = %.2f (target <= 0.50)\n", a / b }'
