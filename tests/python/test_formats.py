"""Every point format 0-10 with records of random bytes, so that each bit of
each field takes both values (the real surveys leave many flags at zero,
and have no format 5, 8 or 9), written and read back by hand."""

import struct

import numpy as np
import pytest

import velmora
from rawlas import STANDARD_LENGTH, LasFile, same_values, write_las

POINTS = 3000


def descriptor(name, data_type, options=0):
    """One 192-byte Extra Bytes descriptor."""
    return struct.pack("<2sBB32s4s120s32s", b"\0\0", data_type, options, name.encode(), b"", b"", b"")


# Described extras after the format-7 record: a float, three bytes left
# undescribed, and a pair of int16 (type 14).
DESCRIBED = descriptor("height", 9) + descriptor("flags", 0, 3) + descriptor("pair", 14)
DESCRIBED_BYTES = 4 + 3 + 4


def plans():
    """(file name, point format, extra bytes, Extra Bytes VLR)."""
    yield from ((f"format{f}.las", f, 0, None) for f in range(11))
    yield ("format3_undescribed.las", 3, 7, None)
    yield ("format7_described.las", 7, DESCRIBED_BYTES, DESCRIBED)


@pytest.fixture(scope="module")
def synthetic(tmp_path_factory):
    folder = tmp_path_factory.mktemp("formats")
    rng = np.random.default_rng(20240611)
    files = {}
    for name, fmt, extra, vlr in plans():
        records = rng.integers(0, 256, size=(POINTS, STANDARD_LENGTH[fmt] + extra), dtype=np.uint8)
        write_las(folder / name, fmt, records, scale=(0.001, 0.01, 0.25), offset=(1000.0, -50.5, 3.0), extra_vlr=vlr)
        files[name] = LasFile(folder / name)
    archives = {}
    for kind, extended in (("default", False), ("extended", True)):
        archives[kind] = folder / f"{kind}.vmra"
        report = velmora.compress([f.path for f in files.values()], archives[kind], extended=extended)
        assert report.all_succeeded, report.summary
    return files, archives


def test_the_written_files_read_back_by_hand(synthetic):
    files, _ = synthetic
    for name, fmt, extra, _ in plans():
        las = files[name]
        assert (las.point_format, las.point_count, las.record_length) == (fmt, POINTS, STANDARD_LENGTH[fmt] + extra)
    dims = files["format7_described.las"].dimensions()
    assert [n for n, _ in dims[-7:]] == ["height", "flags", "pair[0]", "pair[1]", "x", "y", "z"]
    assert [v.dtype.str for _, v in dims[-7:-3]] == ["<f4", "|u1", "<i2", "<i2"]
    assert dims[-6][1].shape == (POINTS, 3)


@pytest.mark.parametrize("kind", ["default", "extended"])
@pytest.mark.parametrize("name", [p[0] for p in plans()])
def test_random_records_read_back_field_by_field(kind, name, synthetic):
    files, archives = synthetic
    las = files[name]
    a = velmora.open(archives[kind])
    entry = a.entry(name)
    assert entry.point_format == las.point_format
    if kind == "extended":
        assert entry.extended
    dims = las.dimensions()
    assert a.fields(name) == [n for n, _ in dims]
    points = a.read(name, fields=[n for n, _ in dims])
    for field, values in dims:
        assert same_values(points[field], values), f"{name}: {field}"
    # The default read: everything but x, y, z, and the checksum checked.
    default = a.read(name)
    assert list(default.dtype.names) == [n for n, _ in dims if n not in ("x", "y", "z")]
    for field in default.dtype.names:
        assert same_values(default[field], points[field]), f"{name}: {field}"
