#!/usr/bin/env bash
# Benchmark inputs and runs: the real survey autzen_trim.las tiled 30 times
# side by side (3.3 million points, format 3), the real forest survey
# v12_format1_megaplot.las tiled 4 times (3.2 million points, format 1: real
# format-1 data costs what the generated file does not), and a generated
# 5,500,000-point format 1 file; with VELMORA_BENCH_LARGE=1 also autzen_trim.las tiled 300
# times (33 million points, 1.1 GB), for memory and linear growth. Figures go
# to standard output, one "name value" line each. Last, the cost of a change
# of an archive as a transaction (velmora-archive-bench).
set -euo pipefail
build=${1:-build}
corpus=${VELMORA_LASDATA:-$(cd "$(dirname "$0")/.." && pwd)/../shared/lasdata}
data="$build/bench-data"
mkdir -p "$data"
beyond="$corpus/beyond"
files=("$data/autzen30.las" "$data/megaplot4.las" "$data/gen5500k_f1.las")
if [ ! -f "$data/autzen30.las" ]; then
  "$build/tools/velmora-tile" "$corpus/autzen_trim.las" 30 "$data/autzen30.las"
fi
if [ ! -f "$data/megaplot4.las" ]; then
  "$build/tools/velmora-tile" "$beyond/v12_format1_megaplot.las" 4 "$data/megaplot4.las"
fi
if [ ! -f "$data/gen5500k_f1.las" ]; then
  "$build/tools/velmora-gen" --points 5500000 --format 1 --seed 5 --out "$data/gen5500k_f1.las"
fi
if [ "${VELMORA_BENCH_LARGE:-0}" = 1 ]; then
  if [ ! -f "$data/autzen300.las" ]; then
    "$build/tools/velmora-tile" "$corpus/autzen_trim.las" 300 "$data/autzen300.las"
  fi
  files+=("$data/autzen300.las")
fi
for f in "${files[@]}"; do
  against=()
  # The large file's runs take turns with the 3.3-million-point file's, so
  # its growth figures compare runs made side by side, not minutes apart.
  if [ "$f" = "$data/autzen300.las" ]; then against=(--against "$data/autzen30.las"); fi
  "$build/bench/velmora-bench" "$f" --workdir "$data" "${against[@]}" "${@:2}"
  echo
done
# The extended entry kind on real LAS 1.4 and format-1 surveys: the LAS 1.4
# format-7 autzen tiled 30 times and the megaplot survey tiled 4 times, both
# stored with --extended; then the size of every file of the beyond/ corpus
# in each kind against zstd -3.
if [ ! -f "$data/v14autzen30.las" ]; then
  "$build/tools/velmora-tile" "$beyond/v14_format7_autzen_trim.las" 30 "$data/v14autzen30.las"
fi
for f in "$data/v14autzen30.las" "$data/megaplot4.las"; do
  "$build/bench/velmora-bench" "$f" --workdir "$data" --extended "${@:2}"
  echo
done
"$(dirname "$0")/ext-sizes.sh" "$build" "$beyond" "$data/ext-sizes"
echo
# What making every change of an archive a transaction costs: replacing the
# 3.3-million-point file in an archive that holds it, and adding 100 small
# corpus files one by one (per file).
"$build/bench/velmora-archive-bench" "$data/autzen30.las" "$corpus" --workdir "$data/archive-bench"
