#!/usr/bin/env bash
# After `make test`: one line saying how many tests were skipped for want of
# the LAS corpus, and how to give it to them; nothing when none was.
set -euo pipefail
log="${1:-build}/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0
skipped=$(awk '/^[0-9]+\/[0-9]+ Test: / { test = $3 }
               /LAS corpus not found/ && test != "" { seen[test] = 1 }
               END { n = 0; for (t in seen) n++; print n }' "$log")
if [ "$skipped" -gt 0 ]; then
  echo "$skipped tests were skipped for want of the LAS corpus: put its folder at ../shared/lasdata or set VELMORA_LASDATA=/path/to/lasdata, then run make test again."
fi
