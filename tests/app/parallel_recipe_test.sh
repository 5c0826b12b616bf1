#!/usr/bin/env bash
# Runs the GNU parallel recipe that the README shows, through the script it
# quotes, on generated tiles; then extracts every archive and compares every
# tile byte for byte. The Slurm job-array script runs too, its array index set
# by hand as Slurm would, and must give the same archives.
#
#   parallel_recipe_test.sh VELMORA VELMORA_GEN SOURCE_DIR
set -euo pipefail
velmora=$1
gen=$2
src=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$(dirname "$velmora"):$PATH"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The README shows the recipe exactly as the script runs it.
recipe=$(sed -n '/^# recipe begin$/,/^# recipe end$/{//!p;}' "$src/scripts/compress-tiles.sh")
[ -n "$recipe" ] || fail "no recipe in scripts/compress-tiles.sh"
readme=$(cat "$src/README.md")
[[ $readme == *"$recipe"* ]] || fail "README.md does not quote the recipe of scripts/compress-tiles.sh"

# 24 tiles in two folders, of every point format, some with few points (kept
# uncompressed) and the rest coded; one name with a blank.
mkdir -p "$work/tiles/north" "$work/tiles/south"
for i in $(seq 1 24); do
  folder=north; (( i % 2 )) && folder=south
  name=$(printf 'tile_%02d.las' "$i")
  (( i == 7 )) && name="tile 07.las"
  points=$(( i % 5 == 0 ? 500 : 3000 + 700 * i ))
  "$gen" --points "$points" --format $(( i % 4 )) --seed "$i" --out "$work/tiles/$folder/$name" >/dev/null
done

cd "$work"
"$src/scripts/compress-tiles.sh" tiles archives 5 || fail "the recipe failed"
archives=$(ls archives/*.vmra | wc -l)
[ "$archives" -eq 5 ] || fail "$archives archives for 24 tiles in groups of 5"
[ "$(tail -n +2 archives/joblog.txt | wc -l)" -eq 5 ] || fail "the job log does not list 5 jobs"

# Every archive comes back, every tile exactly once and byte for byte.
for a in archives/*.vmra; do
  velmora -q -o "out/$(basename "$a" .vmra)" -d "$a" || fail "extracting $a"
done
[ "$(find out -type f | wc -l)" -eq 24 ] || fail "$(find out -type f | wc -l) tiles came back, not 24"
while IFS= read -r -d '' tile; do
  name=$(basename "$tile")
  matches=(out/*/"$name")
  [ "${#matches[@]}" -eq 1 ] && [ -f "${matches[0]}" ] || fail "$name is not in exactly one archive"
  cmp -s "$tile" "${matches[0]}" || fail "$name differs after the round trip"
done < <(find tiles -name '*.las' -print0)

# The job array makes the same archives, task by task.
for task in 1 2 3 4 5 6; do
  SLURM_ARRAY_TASK_ID=$task "$src/scripts/slurm-compress.sh" tiles slurm 5 || fail "array task $task"
done
for a in archives/*.vmra; do
  cmp -s "$a" "slurm/$(basename "$a")" || fail "the job array made another $(basename "$a")"
done
[ "$(ls slurm | wc -l)" -eq 5 ] || fail "the job array made $(ls slurm | wc -l) archives, not 5"

echo "1 passed, 0 failed"
