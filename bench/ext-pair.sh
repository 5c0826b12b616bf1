#!/usr/bin/env bash
# Two builds of the extended coder side by side: velmora-ext-micro of build A
# and of build B run at the same time, one on each of two cores (swapped each
# round), on the same LAS file. On a machine whose speed drifts by more than
# the change being judged, runs taken one after the other compare phases of
# the machine; runs taken at once share them. Prints each round's times and
# B's time over A's, for compressing and for decoding: per two rounds (each
# build once on each core) the geometric mean of the two ratios, then the
# median over the pairs, as bench/row-pair.sh does.
#
#   bench/ext-pair.sh A/velmora-ext-micro B/velmora-ext-micro FILE.las [ROUNDS]
#
# A build against itself gives the noise to expect: on the 2-core machine
# here, one build against a copy of itself came within 2 % in 20 rounds, yet
# two builds with the same decoder differed by 6 % in 16; judge only larger
# differences, or take more rounds. Needs two cores and taskset.
set -euo pipefail
a=$1 b=$2 file=$3 rounds=${4:-16}
rounds=$(((rounds + 1) / 2 * 2))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figure() { awk -v name="$1" '$1 == name { print $2 }' "$2"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for ((i = 0; i < rounds; ++i)); do
  ca=$((i % 2)) cb=$((1 - i % 2))
  taskset -c "$ca" "$a" "$file" "$work/a.vmra" 1 >"$work/a" &
  taskset -c "$cb" "$b" "$file" "$work/b.vmra" 1 >"$work/b" &
  wait
  if [ "$(figure entry_bytes "$work/a")" != "$(figure entry_bytes "$work/b")" ]; then
    echo "the two builds code $file into entries of different sizes" >&2
  fi
  printf '%s %s %s %s\n' "$(figure compress_ns_per_point "$work/a")" "$(figure compress_ns_per_point "$work/b")" \
    "$(figure decompress_ns_per_point "$work/a")" "$(figure decompress_ns_per_point "$work/b")"
done | tee "$work/rounds" | awk '{ printf "round compress A %.1f B %.1f  decode A %.1f B %.1f ns/point\n", $1, $2, $3, $4 }'
paired() { awk -v n="$1" -v d="$2" 'NR % 2 { first = $n / $d; next } { print sqrt(first * $n / $d) }' "$work/rounds" | median; }
echo "compress_b_over_a $(paired 2 1)"
echo "decode_b_over_a $(paired 4 3)"
