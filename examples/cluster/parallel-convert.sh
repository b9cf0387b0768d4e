#!/usr/bin/env bash
# The same as slurm-convert.sh with GNU parallel over several hosts that share OUT and WORKDIR
# (and have korvexpro installed):
#
#   parallel-convert.sh -n SHARDS -o OUT -H host1,host2,... [-w WORKDIR] -- [convert options] PATH...
#
# Without -H the shards run on this machine, as many at once as it has cores.
set -euo pipefail
shards="" out="" work="" hosts=""
while getopts "n:o:w:H:" opt; do
  case "$opt" in
    n) shards=$OPTARG ;;
    o) out=$OPTARG ;;
    w) work=$OPTARG ;;
    H) hosts=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ -n "$shards" ] && [ -n "$out" ] && [ $# -gt 0 ] || { echo "usage: $0 -n SHARDS -o OUT [-H HOSTS] [-w WORKDIR] -- PATH..." >&2; exit 2; }
korvexpro=${KORVEXPRO:-korvexpro}
out=$(mkdir -p "$out" && cd "$out" && pwd)
work=${work:-$out-run}
mkdir -p "$work" && work=$(cd "$work" && pwd)

"$korvexpro" convert -q -o "$out" --plan-only "$work/plan.jsonl" "$@"
remote=()
[ -z "$hosts" ] || remote=(-S "$hosts" --workdir .)
seq 0 $((shards - 1)) | parallel "${remote[@]}" --line-buffer \
  "$korvexpro" convert -q --plan "$work/plan.jsonl" --shard "{}/$shards" --report "$work/report-{}.jsonl" \
  ">" "$work/shard-{}.out" || true
exec "$korvexpro" report "$work"/report-*.jsonl
