#!/usr/bin/env bash
# Stored sizes of every LAS file of a folder: in the classic entry kind where
# it can carry the file, in the extended kind (--extended), and zstd -3 of
# it; each extracted again and compared. One line per file, then the sums.
set -euo pipefail
build=$1
folder=$2
work=${3:-$(mktemp -d)}
velmora="$build/src/velmora"
mkdir -p "$work"
stored() {  # the one entry's stored size, as -l gives it
  "$velmora" --json -l "$1" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["entries"][0]["stored_size"])'
}
kind() {
  "$velmora" --json -l "$1" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["entries"][0]["kind"])'
}
printf '%-42s %12s %12s %12s %12s\n' file las classic extended zstd-3
sum_las=0 sum_ext=0 sum_zstd=0
for las in "$folder"/*.las; do
  name=$(basename "$las")
  rm -rf "$work/x" && mkdir -p "$work/x"
  "$velmora" -q -c "$las" "$work/x/auto.vmra"
  classic=-
  if [ "$(kind "$work/x/auto.vmra")" = classic ]; then classic=$(stored "$work/x/auto.vmra"); fi
  "$velmora" -q --extended -c "$las" "$work/x/ext.vmra"
  extended=$(stored "$work/x/ext.vmra")
  "$velmora" -q -o "$work/x/out" -d "$work/x/ext.vmra"
  cmp -s "$las" "$work/x/out/$name" || { echo "ext-sizes: $name did not come back identical" >&2; exit 1; }
  zst=$(zstd -3 -q -c "$las" | wc -c)
  size=$(stat -c %s "$las")
  printf '%-42s %12d %12s %12d %12d\n' "$name" "$size" "$classic" "$extended" "$zst"
  sum_las=$((sum_las + size)) sum_ext=$((sum_ext + extended)) sum_zstd=$((sum_zstd + zst))
done
printf '%-42s %12d %12s %12d %12d\n' total "$sum_las" "" "$sum_ext" "$sum_zstd"
