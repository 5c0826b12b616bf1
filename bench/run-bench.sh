#!/usr/bin/env bash
# Benchmark inputs and runs: the real survey autzen_trim.las tiled 30 times
# side by side (3.3 million points, format 3), and a generated 5,500,000-point
# format 1 file. Figures go to standard output, one "name value" per line.
set -euo pipefail
build=${1:-build}
corpus=${VELMORA_LASDATA:-$(cd "$(dirname "$0")/.." && pwd)/../shared/lasdata}
data="$build/bench-data"
mkdir -p "$data"
if [ ! -f "$data/autzen30.las" ]; then
  "$build/tools/velmora-tile" "$corpus/autzen_trim.las" 30 "$data/autzen30.las"
fi
if [ ! -f "$data/gen5500k_f1.las" ]; then
  "$build/tools/velmora-gen" --points 5500000 --format 1 --seed 5 --out "$data/gen5500k_f1.las"
fi
for f in "$data/autzen30.las" "$data/gen5500k_f1.las"; do
  "$build/bench/velmora-bench" "$f" --workdir "$data" "${@:2}"
  echo
done
