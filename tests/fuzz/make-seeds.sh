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
  # Read as points: X, Y and Z alone (mode 4, the roles' bits).
  { printf '\x04\x00\x07'; cat "$work/entry"; } > "$out/points$f"
  # The first row's stream starts right after the header image and the VLR block.
  lengths=(20 28 26 34)
  size=$(stat -c %s "$work/g$f.las")
  vlr=$(( size - 227 - 1200 * ${lengths[$f]} ))
  { printf '\x00\x04\xb0'; tail -c +$((232 + vlr + 1)) "$work/entry"; } > "$out/stream$f"
done

# Extended entries (mode 3). Each is checked to give its file back, so a seed
# is a whole, sound entry that mutations start from.
extended() {
  local name=$1
  shift
  "$build/tools/velmora-gen" "$@" --out "$work/$name.las"
  "$build/tools/velmora-entry" -x "$work/$name.las" "$work/$name.entry"
  "$build/tools/velmora-entry" -d "$work/$name.entry" "$work/$name.back"
  cmp -s "$work/$name.las" "$work/$name.back" || { echo "make-seeds: $name does not come back" >&2; exit 1; }
  { printf '\x03\x00\x00'; cat "$work/$name.entry"; } > "$out/ext-$name"
  # The same entry read as points, every field (mode 4).
  { printf '\x04\x00\x00'; cat "$work/$name.entry"; } > "$out/points-$name"
}
# Every point format, in the version it needs; extra bytes (described or
# not), EVLRs, scanner channels, waveform data in the file and bytes after
# everything vary among them.
for f in 0 1 2 3 4 5 6 7 8 9 10; do
  opts=(--points 400 --format "$f" --seed $((f + 10)))
  if [ "$f" -ge 6 ]; then
    opts+=(--version-minor 4 --version-header --channels 2 --evlrs $((f % 3)))
  elif [ "$f" -ge 4 ]; then
    opts+=(--version-minor 3 --version-header)
  fi
  case $f in 4|9) opts+=(--waveform) ;; esac
  if [ $((f % 2)) -eq 0 ]; then opts+=(--extra-bytes $((3 + f))); fi
  if [ "$f" -eq 3 ]; then opts+=(--extra-bytes 5 --undescribed --tail 11); fi
  extended "f$f" "${opts[@]}"
done
# No points at all, in LAS 1.4 with an EVLR and in LAS 1.2.
extended zero14 --points 0 --format 6 --version-minor 4 --version-header --evlrs 1
extended zero12 --points 0 --format 1
# So few points that the whole file as one compressed block is smaller.
extended whole --points 10 --format 1 --seed 3
# Layout version 1, which archives still hold: its chunks have no form byte.
for f in 0 3 6 10; do
  { printf '\x03\x00\x00'; cat "$(dirname "$0")/../engine/fixtures/ext_v1_$f.entry"; } > "$out/ext-v1-$f"
done
# A point format no description knows: its records coded whole as bytes, by
# the models' loop for fields of no format's set.
{ printf '\x03\x00\x00'; cat "$(dirname "$0")/../engine/fixtures/ext_12.entry"; } > "$out/ext-12"
# Chunks kept as they are (form 1) and as a zstd frame (form 2), which only
# files of megabytes get from the coder: the points of a small file put
# together so, in two chunks of one field of bytes.
"$build/tools/velmora-gen" --points 200 --format 1 --seed 7 --out "$work/forms.las"
/usr/bin/python3 - "$work/forms.las" "$work/forms.entry" <<'PY'
import struct, subprocess, sys
las = open(sys.argv[1], 'rb').read()
def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append(v & 0x7F | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)
head = struct.unpack_from('<I', las, 96)[0]
r = struct.unpack_from('<H', las, 105)[0]
n = struct.unpack_from('<I', las, 107)[0]
e = b'X\x02\x01' + varint(len(las)) + varint(head) + b'\x00' + varint(head) + las[:head]
e += varint(n) + varint(r) + varint(1) + bytes([24, 10]) + varint(0) + varint(r) + varint(100) + varint(100) + b'\x00'
first = las[head:head + 100 * r]
rest = subprocess.run(['zstd', '-q', '-c', '-3'], input=las[head + 100 * r:head + n * r],
                      stdout=subprocess.PIPE, check=True).stdout
e += varint(1 + len(first)) + b'\x01' + first + varint(1 + len(rest)) + b'\x02' + rest + varint(0)
open(sys.argv[2], 'wb').write(e)
PY
"$build/tools/velmora-entry" -d "$work/forms.entry" "$work/forms.back"
cmp -s "$work/forms.las" "$work/forms.back" || { echo "make-seeds: the forms seed does not come back" >&2; exit 1; }
{ printf '\x03\x00\x00'; cat "$work/forms.entry"; } > "$out/ext-forms"
# No seed has points enough for the finer contexts: one would take longer to
# decode than all the others together, and the contexts byte of any seed
# switches them on.
