#!/usr/bin/env bash
# Converts a generated layer to a shapefile, then, in the same run, times GDAL copying that
# shapefile to a new one with
#   ogr2ogr -f "ESRI Shapefile"
# and prints both times, their ratio and the peak memory of each (from /usr/bin/time -v).
# LAYER is lines (1,000,000 lines of 20 vertices, 8 fields), regions (200,000 regions from
# 600,000 arcs) or points (1,000,000 annotations, converted with their labels); COUNT overrides
# the number of features.
#
#   bench/convert_bench.sh [BUILD_DIR] [WORK_DIR] [COUNT] [SYMBOLTYPE] [LAYER]
set -euo pipefail
build=${1:-build}
dir=${2:-$(mktemp -d)}
count=${3:-}
symbolType=${4:-0}
layer=${5:-lines}
bench="$build/bin/kvx_convert_bench"
case "$layer" in
  lines) source="$dir/bench_lines.wl"; generate=generate ;;
  regions) source="$dir/bench_regions.wp"; generate=generate-regions ;;
  points) source="$dir/bench_points.wt"; generate=generate-points ;;
  *) echo "LAYER is lines, regions or points" >&2; exit 2 ;;
esac

mkdir -p "$dir"
[ -f "$source" ] || "$bench" "$generate" "$dir" $count
ls -l "$source"
rm -f "$dir"/ours.* "$dir"/gdal_copy.*
cat "$source" > /dev/null  # the source in the page cache

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

ours=$(measure ours "$bench" convert "$source" "$dir/ours" "$symbolType")
sync
gdal=$(measure ogr2ogr ogr2ogr -f "ESRI Shapefile" "$dir/gdal_copy.shp" "$dir/ours.shp")
ls -l "$dir"/ours.shp "$dir"/ours.dbf "$dir"/gdal_copy.shp "$dir"/gdal_copy.dbf
read -r _ ourSeconds ourPeak <<< "$ours"
read -r _ gdalSeconds gdalPeak <<< "$gdal"
awk -v a="$ourSeconds" -v b="$gdalSeconds" -v pa="$ourPeak" -v pb="$gdalPeak" 'BEGIN {
  printf "conversion: %.2f s, peak RSS %d MB\n", a, pa / 1024
  printf "ogr2ogr copy of the result: %.2f s, peak RSS %d MB\n", b, pb / 1024
  printf "conversion / ogr2ogr = %.2f\n", a / b }'
