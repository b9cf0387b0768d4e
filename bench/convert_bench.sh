#!/usr/bin/env bash
# Converts a generated line layer of 1,000,000 lines (20 vertices, 8 attribute fields) to a
# shapefile, then, in the same run, times GDAL copying that shapefile to a new one with
#   ogr2ogr -f "ESRI Shapefile"
# and prints both times, their ratio and the peak memory of each (from /usr/bin/time -v).
#
#   bench/convert_bench.sh [BUILD_DIR] [WORK_DIR] [LINES] [SYMBOLTYPE]
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
lines=${3:-1000000}
symbolType=${4:-0}
bench="$build/bin/kvx_convert_bench"

mkdir -p "$dir"
[ -f "$dir/bench_lines.wl" ] || "$bench" generate "$dir" "$lines"
ls -l "$dir/bench_lines.wl"
rm -f "$dir"/ours.* "$dir"/gdal_copy.*
cat "$dir/bench_lines.wl" > /dev/null  # the source in the page cache

measure() {  # label, command...: prints "label seconds peak_kb"
  local label=$1
  shift
  local report
  report=$( { /usr/bin/time -v "$@" > /dev/null; } 2>&1 )
  grep -h "peak anonymous" <<< "$report" >&2 || true
  local wall peak
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' <<< "$report")
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' <<< "$report")
  # h:mm:ss or m:ss.ss to seconds
  local seconds
  seconds=$(awk -v t="$wall" 'BEGIN { n = split(t, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }')
  echo "$label $seconds $peak"
}

ours=$(measure ours "$bench" convert "$dir/bench_lines.wl" "$dir/ours" "$symbolType")
sync
gdal=$(measure ogr2ogr ogr2ogr -f "ESRI Shapefile" "$dir/gdal_copy.shp" "$dir/ours.shp")
ls -l "$dir"/ours.shp "$dir"/ours.dbf "$dir"/gdal_copy.shp "$dir"/gdal_copy.dbf
read -r _ ourSeconds ourPeak <<< "$ours"
read -r _ gdalSeconds gdalPeak <<< "$gdal"
awk -v a="$ourSeconds" -v b="$gdalSeconds" -v pa="$ourPeak" -v pb="$gdalPeak" 'BEGIN {
  printf "conversion: %.2f s, peak RSS %d MB\n", a, pa / 1024
  printf "ogr2ogr copy of the result: %.2f s, peak RSS %d MB\n", b, pb / 1024
  printf "conversion / ogr2ogr = %.2f\n", a / b }'
