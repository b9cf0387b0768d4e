#!/usr/bin/env bash
# One task of the korvexpro job array (submitted by slurm-convert.sh): converts shard
# SLURM_ARRAY_TASK_ID of KVX_SHARDS of the plan KVX_PLAN, with a report in KVX_WORK. A task run
# again takes over what its earlier attempt converted.
#SBATCH --cpus-per-task=2
set -euo pipefail
i=${SLURM_ARRAY_TASK_ID:?run this as a task of a Slurm job array}
report="$KVX_WORK/report-$i.jsonl"
jobs=${KVX_JOBS:-0}
[ "$jobs" != 0 ] || jobs=${SLURM_CPUS_PER_TASK:-0}
resume=()
if [ -s "$report" ]; then
  mv "$report" "$report.earlier"
  resume=(--resume "$report.earlier")
fi
exec "${KORVEXPRO:-korvexpro}" convert -q --plan "$KVX_PLAN" --shard "$i/$KVX_SHARDS" -j "$jobs" \
  --report "$report" "${resume[@]}"
