#!/usr/bin/env bash
# Seeds for the decode fuzzer: real entries of every point format, and the
# streams inside them, each behind the fuzzer's three-byte mode prefix.
set -euo pipefail
build=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for f in 0 1 2 3; do
  "$build/tools/velmora-gen" --points 1200 --format "$f" --seed "$f" --vlrs 1 --out "$work/g$f.las"
  "$build/tools/velmora-entry" -c "$work/g$f.las" "$work/entry"
  { printf '\x02\x00\x00'; cat "$work/entry"; } > "$out/entry$f"
  # The first row's stream starts right after the header image and the VLR block.
  lengths=(20 28 26 34)
  size=$(stat -c %s "$work/g$f.las")
  vlr=$(( size - 227 - 1200 * ${lengths[$f]} ))
  { printf '\x00\x04\xb0'; tail -c +$((232 + vlr + 1)) "$work/entry"; } > "$out/stream$f"
done
