#!/usr/bin/env bash
# The main job on a bundled default: a generated airborne LAS file is read
# through the LAS layer in windows of points and written back; the copy must
# be identical to the original.
set -euo pipefail
build=${1:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/tools/velmora-gen" --points 250000 --format 3 --seed 7 --out "$work/sample.las"
"$build/tools/velmora-lascopy" "$work/sample.las" "$work/copy.las"
size=$(stat -c %s "$work/sample.las")
if cmp -s "$work/sample.las" "$work/copy.las"; then
  echo "sample.las: 250,000 points, $size bytes, read and written back: identical"
else
  echo "sample.las: the copy differs from the original" >&2
  exit 1
fi
