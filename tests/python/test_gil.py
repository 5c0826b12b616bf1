"""Decoding and the jobs let other Python threads run."""

import threading
import time

import velmora

BIG = "v12_format1_megaplot.las"  # 805,322 points


class Spinner:
    """A Python thread counting as fast as the GIL lets it."""

    def __init__(self):
        self.count = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.spin, daemon=True)

    def spin(self):
        while not self.stop.is_set():
            self.count += 1

    def rate_while(self, work):
        """Counts a second per second of work(), and what work() returned."""
        before, start = self.count, time.perf_counter()
        result = work()
        return (self.count - before) / (time.perf_counter() - start), result

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def free_share(work):
    """How fast the other thread counted while work() ran, against how fast
    it counts while this thread sleeps (which holds no GIL)."""
    with Spinner() as s:
        time.sleep(0.05)
        idle, _ = s.rate_while(lambda: time.sleep(0.3))
        busy, result = s.rate_while(work)
    assert idle > 0
    return busy / idle, result


def test_reading_points_releases_the_gil(corpus_archives):
    archive, _ = corpus_archives["default"]
    a = velmora.open(archive)
    # One engine thread, so that the counting thread has a core of its own
    # on a two-core machine. Held, the GIL would let it count only between
    # chunks: a few switch intervals in the whole read.
    share, points = free_share(lambda: a.read(BIG, threads=1))
    assert len(points) == 805322
    assert share > 0.2, f"the other thread ran at {share:.0%} of its free speed during read()"
    share, chunks = free_share(lambda: sum(len(c) for c in a.iter_points(BIG, threads=1)))
    assert chunks == 805322
    assert share > 0.2, f"the other thread ran at {share:.0%} of its free speed during iter_points()"


def test_a_job_releases_the_gil(corpus, tmp_path):
    share, report = free_share(
        lambda: velmora.compress([corpus / "beyond" / BIG], tmp_path / "big.vmra", threads=1))
    assert report.all_succeeded
    assert share > 0.2, f"the other thread ran at {share:.0%} of its free speed during compress()"
