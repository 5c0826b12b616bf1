#!/usr/bin/env bash
# Two builds of velmora-row-profile side by side: A's and B's run at the same
# time on the same LAS file, one on each of two cores (swapped each round),
# so both meet the same phases of a machine whose speed drifts. Prints, for
# every figure the profile gives (each group's or row's stage, and the
# totals), B's time over A's: per two rounds (each build once on each
# core) the geometric mean of the two ratios, as the cores here differ in
# speed by more than most changes; then the median over the pairs.
#
#   bench/row-pair.sh A/velmora-row-profile B/velmora-row-profile FILE.las [ROUNDS]
#
# A build against itself shows the noise to expect. Needs two cores and
# taskset.
set -euo pipefail
a=$1 b=$2 file=$3 rounds=${4:-8}
rounds=$(((rounds + 1) / 2 * 2))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# "section/name/column value" for every figure of a profile.
figures() {
  awk '/^compress/ { s = "compress" } /^decompress, one thread, stream/ { s = "decode" }
       /^decompress, one thread, side/ { s = "side_by_side" }
       /^(group|row) / { for (i = 2; i <= NF; ++i) col[i] = $i; next }
       NF >= 2 && $2 ~ /^[0-9.]+$/ {
         for (i = 2; i <= NF; ++i) {
           c = (i in col && NF > 2) ? col[i] : "ms"
           if (c != "bytes") print s "/" $1 "/" c, $i
         }
       }' "$1"
}
for ((i = 0; i < rounds; ++i)); do
  ca=$((i % 2)) cb=$((1 - i % 2))
  taskset -c "$ca" "$a" "$file" "$work/a.work" >"$work/a" 2>&1 &
  taskset -c "$cb" "$b" "$file" "$work/b.work" >"$work/b" 2>&1 &
  wait
  join <(figures "$work/a" | sort) <(figures "$work/b" | sort) >>"$work/pairs"
done
awk '$2 > 0 { r[$1] = r[$1] " " $3 / $2 } END { for (k in r) print k, r[k] }' "$work/pairs" | sort |
  while read -r name values; do
    printf '%-36s %s\n' "$name" "$(tr ' ' '\n' <<<"$values" |
      awk 'NR % 2 { first = $1; next } { print sqrt(first * $1) }' | sort -n |
      awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }')"
  done
