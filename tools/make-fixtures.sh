#!/usr/bin/env bash
# Writes the golden entry fixtures of tests/engine/fixtures: the LAS inputs
# (velmora-fixture-inputs) and, for each, the entry the engine of the build
# writes for it. Only for making the fixtures once: they freeze the stored
# format, so regenerating them after a change to the coders would defeat
# them. Every entry is checked to decode back to its input.
set -euo pipefail
build=${1:-build}
dir=$(cd "$(dirname "$0")/.." && pwd)/tests/engine/fixtures
mkdir -p "$dir"
"$build/tools/velmora-fixture-inputs" "$dir"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for las in "$dir"/*.las; do
  entry="${las%.las}.entry"
  "$build/tools/velmora-entry" -c "$las" "$entry"
  "$build/tools/velmora-entry" -d "$entry" "$tmp/back.las"
  cmp "$las" "$tmp/back.las"
done
ls -l "$dir"
