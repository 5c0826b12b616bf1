#!/usr/bin/python3
"""What reading points from Python costs, on autzen_trim.las tiled 30 times
(3.3 million points, format 3):

  python.read_xyz_s      a.read(name, fields=["X", "Y", "Z"])
  python.read_all_s      a.read(name), every dimension
  python.cli_fromfile_s  `velmora -d` into a file, then numpy.fromfile of its records

each the median of 5 runs; then the peak resident memory of a process that
iterates iter_points over an entry of 33 million points (autzen tiled 300
times, 1.1 GB of LAS), against the same process before it reads a point
(resource.getrusage; /proc's VmHWM alongside, which no parent inflates),
the growth between the two and the size of one chunk of output.
The large entry is made once and kept; VELMORA_BENCH_LARGE=0 leaves it out.

Usage: bench/python-read.py [BUILD]   (default: build). Run it with Debian's
/usr/bin/python3, the Python the module is built for."""

import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
source = pathlib.Path(__file__).resolve().parents[1]
corpus = pathlib.Path(os.environ.get("VELMORA_LASDATA") or source.parent / "shared" / "lasdata")
sys.path.insert(0, str(build / "python"))

import numpy as np  # noqa: E402

import velmora  # noqa: E402

data = build / "bench-data"
data.mkdir(exist_ok=True)
tile = build / "tools" / "velmora-tile"
cli = build / "src" / "velmora"
RUNS = 5


def made(las, times):
    """autzen_trim.las tiled `times` times and its archive, made when missing."""
    path = data / las
    if not path.exists():
        subprocess.run([str(tile), str(corpus / "autzen_trim.las"), str(times), str(path)], check=True)
    archive = data / (path.stem + "-py.vmra")
    if not archive.exists():
        # By the command line, so that this process stays small for the
        # memory probe it starts (a child's peak starts at its parent's).
        subprocess.run([str(cli), "-q", "-c", str(path), str(archive)], check=True, stdin=subprocess.DEVNULL)
    return path, archive


def median_seconds(work):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def las_records(path):
    """The records of a LAS file with numpy.fromfile, after its header says
    where they lie and how long each is."""
    head = np.fromfile(path, dtype=np.uint8, count=375)
    offset = int(head[96:100].view("<u4")[0])
    length = int(head[105:107].view("<u2")[0])
    count = int(head[107:111].view("<u4")[0])
    return np.fromfile(path, dtype=np.dtype(("u1", (length,))), count=count, offset=offset)


def cli_then_fromfile(archive, name):
    folder = tempfile.mkdtemp(dir=data)
    try:
        subprocess.run([str(cli), "-q", "-o", folder, "-d", name, str(archive)], check=True,
                       stdin=subprocess.DEVNULL)
        records = las_records(os.path.join(folder, name))
        assert len(records) > 0
    finally:
        shutil.rmtree(folder)


if os.environ.get("VELMORA_BENCH_LARGE", "1") != "0":
    start = time.perf_counter()
    las300, archive300 = made("autzen300.las", 300)
    print(f"python.large_made_s {time.perf_counter() - start:.1f}")
    # A process of its own, so that its peak is the iteration's alone.
    probe = f"""
import resource, sys
sys.path.insert(0, {str(build / 'python')!r})
import numpy, velmora
def peak(): return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024
def hwm():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"): return int(line.split()[1]) // 1024
a = velmora.open({str(archive300)!r})
before = peak()
n = 0
largest = 0
for chunk in a.iter_points({las300.name!r}):
    n += len(chunk)
    largest = max(largest, chunk.nbytes)
print(n, before, peak(), hwm(), largest // 1024)
"""
    start = time.perf_counter()
    out = subprocess.run([sys.executable, "-c", probe], check=True, capture_output=True, text=True).stdout.split()
    seconds = time.perf_counter() - start
    count, before, after, hwm, chunk_kib = (int(v) for v in out)
    print(f"python.large_points {count}")
    print(f"python.large_iter_s {seconds:.2f}")
    print(f"python.large_rss_before_mib {before}")
    print(f"python.large_rss_peak_mib {after}")
    print(f"python.large_vmhwm_mib {hwm}")
    # What iterating added to the process, against the target of 128 MB
    # beside one chunk of output.
    print(f"python.large_growth_mib {after - before}")
    print(f"python.large_chunk_mib {chunk_kib / 1024:.1f}")

las30, archive30 = made("autzen30.las", 30)
a = velmora.open(archive30)
name30 = las30.name
points = a.entry(name30).point_count
print(f"python.points {points}")
print(f"python.read_xyz_s {median_seconds(lambda: a.read(name30, fields=['X', 'Y', 'Z'])):.3f}")
print(f"python.read_all_s {median_seconds(lambda: a.read(name30)):.3f}")
print(f"python.cli_fromfile_s {median_seconds(lambda: cli_then_fromfile(archive30, name30)):.3f}")
