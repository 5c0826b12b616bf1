#!/usr/bin/env bash
# The line `make test` ends with: tests skipped for want of the corpus are
# counted once each, other skips are not, and without any nothing is said.
set -euo pipefail
note="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Testing/Temporary"
log="$work/Testing/Temporary/LastTest.log"
cat >"$log" <<'LOG'
1/4 Test: A.One
LAS corpus not found (set VELMORA_LASDATA): skipping
LAS corpus not found (set VELMORA_LASDATA): skipping
2/4 Test: A.Two
SKIPPED: lintian is not installed
3/4 Test: python
SKIPPED [1] tests/python/test_points.py:12: LAS corpus not found (set VELMORA_LASDATA): skipping
4/4 Test: A.Four
all good
LOG
out=$("$note" "$work")
[[ "$out" == "2 tests were skipped for want of the LAS corpus:"* ]] || { echo "FAIL: said '$out'"; exit 1; }
[[ "$out" == *VELMORA_LASDATA* ]] || { echo "FAIL: does not say how: '$out'"; exit 1; }
printf '1/1 Test: A.One\nok\n' >"$log"
out=$("$note" "$work")
[ -z "$out" ] || { echo "FAIL: said '$out' with no corpus test skipped"; exit 1; }
echo "corpus note ok"
