#!/usr/bin/env bash
# The main job on a bundled default: a generated airborne LAS file is
# compressed into an archive from the command line, extracted again into
# another folder, and compared with the original byte for byte.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
velmora="$build/src/velmora"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/survey" "$work/restored"

grouped() { echo "$1" | sed -e ':a' -e 's/\B[0-9]\{3\}\>/,&/' -e 'ta'; }

points=250000
"$build/tools/velmora-gen" --points "$points" --format 3 --seed 7 --out "$work/survey/sample.las"
(cd "$work/survey" && "$velmora" -c sample.las sample.vmra)
(cd "$work/restored" && "$velmora" -d ../survey/sample.vmra)

las=$(stat -c %s "$work/survey/sample.las")
vmra=$(stat -c %s "$work/survey/sample.vmra")
echo "sample.las:  $(grouped "$points") points, $(grouped "$las") bytes"
echo "sample.vmra: $(grouped "$vmra") bytes, $(awk -v a="$vmra" -v b="$las" \
  'BEGIN { printf "%.1f%%", 100 * a / b }') of the LAS file"
if cmp -s "$work/survey/sample.las" "$work/restored/sample.las"; then
  echo "extracted sample.las: identical to the original"
else
  echo "extracted sample.las differs from the original" >&2
  exit 1
fi
