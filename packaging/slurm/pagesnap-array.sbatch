#!/bin/bash
# pagesnap-batch as a Slurm job array: each task converts its own shard of one list of Word
# documents into one output folder that every node shares.
#
#   find /archive -iname '*.doc*' > documents.txt       # paths as the compute nodes see them
#   sbatch --array=0-15 pagesnap-array.sbatch documents.txt /shared/pictures [options...]
#
# --array=0-(N-1) makes N shards (document i of the list goes to task i mod N); the
# options after the output folder go to pagesnap-batch (-f, -r, -p, --fonts, ...) and must be
# the same on every submission. Cores per task: --cpus-per-task=C on the sbatch line (one
# document engine per core, so -j C); memory follows per core (--mem-per-cpu below).
#
# Every task runs with --resume, so submitting the same command again after a failed,
# cancelled, killed or timed-out task converts only what is missing: tasks whose shard is
# complete end within seconds. Keep the list and the options between submissions of one
# conversion (picture names are decided over the whole list); N may change, since --resume
# reads what every task of every submission finished. Each task lists what it finished in
# OUTPUT/.pagesnap-batch.shard-K-of-N.done and writes a JSON report,
# pagesnap-<array job id>-<K>.json in the submission folder (or in $PAGESNAP_REPORT_DIR); the
# task's exit status is pagesnap-batch's: 0 all converted, 1 some documents failed.
#
# PAGESNAP_BATCH names the program when it is not pagesnap-batch on the nodes' PATH.
#
#SBATCH --job-name=pagesnap
#SBATCH --cpus-per-task=2
# Memory per core, that is per engine and its worker: over the 60 corpus documents an engine
# peaked at 414 MB resident (409 MB at 300 dpi) and a worker, which draws the pages, at 52 MB
# at 96 dpi and 294 MB at 300 dpi; an engine is replaced between documents once past 1024 MB
# (--engine-memory), which a long run reaches at about 2 MB a document.
#SBATCH --mem-per-cpu=1536M
#SBATCH --output=pagesnap-%A_%a.out

set -u

if [ $# -lt 2 ] || [ -z "${SLURM_ARRAY_TASK_COUNT:-}" ]; then
  echo "usage: sbatch --array=0-(N-1) [--cpus-per-task=C] pagesnap-array.sbatch LIST OUTPUT [pagesnap-batch options...]" >&2
  exit 2
fi
list=$1
output=$2
shift 2

reports=${PAGESNAP_REPORT_DIR:-${SLURM_SUBMIT_DIR:-.}}
# A task without --cpus-per-task gets one core.
jobs=${SLURM_CPUS_PER_TASK:-1}

exec "${PAGESNAP_BATCH:-pagesnap-batch}" --files-from "$list" --shard auto -o "$output" --resume \
  -j "$jobs" --report "$reports/pagesnap-${SLURM_ARRAY_JOB_ID}-{shard}.json" "$@"
