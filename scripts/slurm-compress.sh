#!/usr/bin/env bash
# A Slurm job array that compresses a survey's LAS tiles into archives of
# GROUP tiles each, one array task per archive. Task i takes the i-th group of
# the tiles in name order, so the archives are the ones (byte for byte) that
# scripts/compress-tiles.sh makes on one machine.
#
#   n=$(find tiles -iname '*.las' | wc -l)
#   sbatch --array=1-$(( (n + 49) / 50 )) scripts/slurm-compress.sh tiles archives 50
#
# Every node needs velmora on its PATH and the tiles at the same path; the
# tile folder must not change while the array runs (the groups are counted
# from it by every task). One engine thread per task keeps a task well under
# 400 MB; give a task more cores with --cpus-per-task and it uses them.
#SBATCH --job-name=velmora
#SBATCH --cpus-per-task=1
#SBATCH --mem=1G
#SBATCH --time=01:00:00
#SBATCH --output=velmora-%A_%a.log
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: sbatch --array=1-N $0 TILES ARCHIVES [GROUP]" >&2
  exit 255
fi
tiles=$1
archives=$2
group=${3:-50}
task=${SLURM_ARRAY_TASK_ID:?run it as a job array: sbatch --array=1-N}

mapfile -d '' -t all < <(find "$tiles" -iname '*.las' -print0 | LC_ALL=C sort -z)
first=$(( (task - 1) * group ))
# A task past the last group has nothing to do.
if (( first >= ${#all[@]} )); then
  exit 0
fi
mkdir -p "$archives"
exec velmora -j "${SLURM_CPUS_PER_TASK:-1}" -y -c "${all[@]:first:group}" "$archives/survey-$task.vmra"
