#!/usr/bin/env bash
# Fails when the folders of src/ include each other in a cycle, when the
# core (las, engine, archive, jobs/core) reaches up into a layer above it or
# into Qt, or when the command line or the window reaches into the core. A
# folder is the directory of a file below src/ (jobs/core is a folder of its
# own, apart from jobs).
set -euo pipefail
src=${1:?usage: check-layers.sh SRC_DIR}
cd "$src"

folder_of() { dirname "$1"; }

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
status=0
while IFS= read -r file; do
  from=$(folder_of "$file")
  while IFS= read -r inc; do
    to=$(folder_of "$inc")
    [ "$to" = "." ] && continue
    [ -d "$to" ] || continue
    [ "$to" = "$from" ] && continue
    echo "$from $to" >> "$edges"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)

# The core may only look down: las <- engine <- archive <- jobs/core. The
# command line and the window are programs on the library (lib, through
# include/velmora): they look at no part of the core.
is_core() { case "$1" in las|engine|archive|jobs/core) return 0 ;; *) return 1 ;; esac; }
allowed() {
  case "$1" in
    las) return 1 ;;
    engine) [ "$2" = las ] ;;
    archive) [ "$2" = las ] || [ "$2" = engine ] ;;
    jobs/core) [ "$2" = las ] || [ "$2" = engine ] || [ "$2" = archive ] ;;
    app|jobs|listview|platform) ! is_core "$2" && [ "$2" != lib ] ;;
    *) return 0 ;;
  esac
}
while read -r from to; do
  if ! allowed "$from" "$to"; then
    echo "layer violation: $from includes $to"
    status=1
  fi
done < <(sort -u "$edges")

for core in las engine archive jobs/core; do
  if grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$core" 2>/dev/null; then
    echo "layer violation: $core includes Qt"
    status=1
  fi
done

# tsort names the folders of a cycle on its error output.
if ! sort -u "$edges" | tsort > /dev/null 2> "$edges.err" || grep -q loop "$edges.err"; then
  echo "include cycle between folders:"
  sed 's/^tsort: //' "$edges.err"
  status=1
fi
rm -f "$edges.err"
[ $status -eq 0 ] && echo "layers: $(sort -u "$edges" | wc -l) folder dependencies, no cycle"
exit $status
