#!/usr/bin/env bash
# Compresses a survey's LAS tiles into archives of GROUP tiles each, with GNU
# parallel running one velmora (on one engine thread) per job slot, so every
# core works on its own group.
#
#   scripts/compress-tiles.sh TILES ARCHIVES [GROUP]
#
# TILES is searched for *.las at any depth; the tiles are taken in name order,
# GROUP at a time (default 50), into ARCHIVES/survey-1.vmra, survey-2.vmra, ...
# GNU parallel keeps a record of every job in ARCHIVES/joblog.txt. Options for
# GNU parallel itself come through its PARALLEL variable, for example
# PARALLEL="--sshlogin 8/node1,8/node2,: --workdir ." to use other machines.
# The exit status is the number of groups that failed (0: all compressed).
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 TILES ARCHIVES [GROUP]" >&2
  exit 255
fi
tiles=$1
archives=$2
group=${3:-50}
mkdir -p "$archives"

# recipe begin
find "$tiles" -iname '*.las' -print0 | LC_ALL=C sort -z |
  parallel -0 -q -N "$group" --joblog "$archives/joblog.txt" \
    velmora -j 1 -y -c {} "$archives/survey-{#}.vmra"
# recipe end
