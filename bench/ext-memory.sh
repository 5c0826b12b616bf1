#!/usr/bin/env bash
# Peak memory of the extended kind with the default threads, compressing
# (--extended -c) and extracting (-d) files that press on it: real surveys
# tiled large, real records with many extra bytes, generated records of 8,000
# noisy extra bytes, and noise in every field of format 10. Each file is
# extracted again and compared. One line per file: its name, its size, the
# peak resident memory of each job in KB, and its entry's size.
#
#   bench/ext-memory.sh BUILD [LASDATA] [WORKDIR]
set -euo pipefail
build=$1
data=${2:-../shared/lasdata}
work=${3:-$(mktemp -d)}
velmora="$build/src/velmora"
tile="$build/tools/velmora-tile"
gen="$build/tools/velmora-gen"
mkdir -p "$work"
beyond="$data/beyond"

# The peak resident memory of a command, in KB (its children's, as the
# kernel counts them).
peak() {
  /usr/bin/python3 - "$@" <<'EOF'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
EOF
}

"$tile" "$beyond/v12_format1_megaplot.las" 4 "$work/megaplot4.las" >/dev/null
"$tile" "$beyond/v14_format7_autzen_trim.las" 30 "$work/autzen14x30.las" >/dev/null
"$tile" "$beyond/v14_format6_extrabytes_82.las" 13418 "$work/extrabytes82x13418.las" >/dev/null
"$tile" "$beyond/v12_format1_extrabytes_conifer.las" 125 "$work/coniferx125.las" >/dev/null
"$gen" --points 20000 --format 1 --extra-bytes 8000 --undescribed --out "$work/extra8000.las" >/dev/null
"$gen" --points 1000000 --format 10 --version-minor 4 --out "$work/noise10.las" >/dev/null
/usr/bin/python3 - "$work/noise10.las" <<'EOF'
import random, struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
start = struct.unpack_from('<I', data, 96)[0]
length = struct.unpack_from('<H', data, 105)[0]
count = (len(data) - start) // length
rng = random.Random(10)
data[start:start + count * length] = rng.randbytes(count * length)
open(path, 'wb').write(data)
EOF

printf '%-24s %12s %14s %14s %12s\n' file las compress_kb extract_kb entry
for las in megaplot4 autzen14x30 extrabytes82x13418 coniferx125 extra8000 noise10; do
  rm -rf "$work/x" && mkdir -p "$work/x"
  c=$(peak "$velmora" -q --extended -c "$work/$las.las" "$work/x/a.vmra")
  d=$(peak "$velmora" -q -o "$work/x/out" -d "$work/x/a.vmra")
  cmp -s "$work/$las.las" "$work/x/out/$las.las" || { echo "ext-memory: $las did not come back identical" >&2; exit 1; }
  printf '%-24s %12d %14d %14d %12d\n' "$las" "$(stat -c %s "$work/$las.las")" "$c" "$d" "$(stat -c %s "$work/x/a.vmra")"
done
