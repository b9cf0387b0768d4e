#!/usr/bin/env bash
# Converts MapGIS archives on a Slurm cluster: one plan, a job array of N shards, one merged report.
#
#   slurm-convert.sh -n SHARDS -o OUT [-w WORKDIR] [-j JOBS] -- [convert options] PATH...
#
# OUT and WORKDIR (default OUT/../OUT-run) must be on a file system every node sees. The plan is
# written once here; each array task converts its shard with the plan's names, so together they
# write exactly what one plain run writes. A task that is requeued or run again resumes from its
# own report. The exit status is that of "korvexpro report": 0 when every row was converted.
# Environment: KORVEXPRO (the program, default "korvexpro" from PATH), SBATCH_OPTIONS (more
# options for sbatch, e.g. "--partition=geo --time=12:00:00").
set -euo pipefail

shards=""
out=""
work=""
jobs=0
usage() {
  echo "usage: $0 -n SHARDS -o OUT [-w WORKDIR] [-j JOBS] -- [convert options] PATH..." >&2
  exit 2
}
while getopts "n:o:w:j:" opt; do
  case "$opt" in
    n) shards=$OPTARG ;;
    o) out=$OPTARG ;;
    w) work=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ -n "$shards" ] && [ -n "$out" ] && [ $# -gt 0 ] || usage
[[ "$shards" =~ ^[1-9][0-9]*$ ]] || usage

korvexpro=${KORVEXPRO:-korvexpro}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$out" && cd "$out" && pwd)
work=${work:-$out-run}
mkdir -p "$work"
work=$(cd "$work" && pwd)

# 1. The plan: every row's folder and names, decided once against the output folder.
"$korvexpro" convert -q -o "$out" --plan-only "$work/plan.jsonl" "$@"

# 2. The shards, as a job array; --wait returns when every task has ended (failed rows make a
#    task fail, which the report below tells apart from a task that never ran).
# shellcheck disable=SC2086
sbatch --wait --array="0-$((shards - 1))" --job-name=korvexpro \
  --output="$work/shard-%a.out" --error="$work/shard-%a.err" ${SBATCH_OPTIONS:-} \
  --export="ALL,KORVEXPRO=$korvexpro,KVX_PLAN=$work/plan.jsonl,KVX_SHARDS=$shards,KVX_JOBS=$jobs,KVX_WORK=$work" \
  "$here/shard-task.sh" || true

# 3. One summary over the shards' reports.
exec "$korvexpro" report "$work"/report-*.jsonl
