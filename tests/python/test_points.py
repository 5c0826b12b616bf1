"""The points the module reads, held against the records of the original
LAS files read with numpy alone."""

import numpy as np
import pytest

import velmora
from rawlas import STANDARD_LENGTH, RECORD_FIELDS, same_values

KINDS = ["default", "extended"]


def test_record_layouts_add_up_to_the_standard_lengths():
    # The hand-written layouts are the yardstick of every test below.
    for fmt, fields in RECORD_FIELDS.items():
        assert np.dtype(fields).itemsize == STANDARD_LENGTH[fmt], fmt


@pytest.mark.parametrize("kind", KINDS)
def test_refused_files_are_those_whose_points_do_not_fit(kind, corpus_files, corpus_archives):
    archive, report = corpus_archives[kind]
    outcomes = {item.name: item for item in report.items}
    assert len(outcomes) == len(corpus_files)
    for name, las in corpus_files.items():
        item = outcomes[las.path]
        if las.points_fit:
            assert item.outcome == velmora.Outcome.Added, f"{name}: {item.message}"
        else:
            assert item.outcome == velmora.Outcome.Refused, name
            assert item.code == velmora.ErrorCode.Refused
            assert las.path in item.message
    stored = {e.name for e in velmora.open(archive).entries}
    assert stored == {n for n, las in corpus_files.items() if las.points_fit}


@pytest.mark.parametrize("kind", KINDS)
def test_every_dimension_equals_the_raw_records(kind, corpus_files, corpus_archives):
    archive, _ = corpus_archives[kind]
    a = velmora.open(archive)
    entries = {e.name: e for e in a.entries}
    formats_read = set()
    problems = []
    for name, entry in sorted(entries.items()):
        las = corpus_files[name]
        dims = las.dimensions()
        expected = [(n, v) for n, v in dims if n not in ("x", "y", "z")]
        points = a.read(name)
        if list(points.dtype.names) != [n for n, _ in expected]:
            problems.append(f"{name}: fields {points.dtype.names} != {[n for n, _ in expected]}")
            continue
        assert len(points) == las.point_count
        for field, values in expected:
            if not same_values(points[field], values):
                problems.append(f"{name}: {field} differs")
        # Every dimension asked by name, the scaled coordinates with them.
        everything = a.read(name, fields=[n for n, _ in dims])
        for field, values in dims:
            if not same_values(everything[field], values):
                problems.append(f"{name}: {field} differs when every field is named")
        formats_read.add(las.point_format)
        if kind == "extended":
            assert entry.extended, f"{name} was not stored in the extended kind"
    assert problems == []
    # Every point format of the corpus was read in this kind.
    assert formats_read == {las.point_format for las in corpus_files.values() if las.points_fit}


def test_the_default_kind_keeps_classic_entries(corpus_archives):
    # Otherwise both runs above would read the extended kind alone.
    archive, _ = corpus_archives["default"]
    kinds = {e.extended for e in velmora.open(archive).entries}
    assert kinds == {False, True}


@pytest.mark.parametrize("kind", KINDS)
def test_scaled_coordinates_are_the_integers_times_scale_plus_offset(kind, corpus_files, corpus_archives):
    archive, _ = corpus_archives[kind]
    a = velmora.open(archive)
    for entry in a.entries:
        las = corpus_files[entry.name]
        xyz = a.read(entry.name, fields=["x", "y", "z"])
        assert xyz.dtype.names == ("x", "y", "z")
        records = las.records()
        for axis, field in enumerate("xyz"):
            assert xyz.dtype[field] == np.float64
            expected = records[field.upper()].astype(np.float64) * las.scale[axis] + las.offset[axis]
            assert np.array_equal(xyz[field], expected), f"{entry.name}: {field}"


def test_chosen_fields_come_in_the_order_asked(corpus_files, corpus_archives):
    archive, _ = corpus_archives["default"]
    a = velmora.open(archive)
    order = ["gps_time", "Z", "classification", "x", "red", "return_number", "X"]
    points = a.read("autzen_trim.las", fields=order)
    assert list(points.dtype.names) == order
    assert [points.dtype[f].str for f in order] == ["<f8", "<i4", "|u1", "<f8", "<u2", "|u1", "<i4"]
    dims = dict(corpus_files["autzen_trim.las"].dimensions())
    for field in order:
        assert same_values(points[field], dims[field]), field
    # The same entry, another order: the columns follow the names.
    again = a.read("autzen_trim.las", fields=list(reversed(order)))
    assert list(again.dtype.names) == list(reversed(order))
    for field in order:
        assert same_values(again[field], points[field]), field


def test_an_unknown_field_raises_naming_it(corpus_archives):
    archive, _ = corpus_archives["default"]
    a = velmora.open(archive)
    with pytest.raises(velmora.Error) as raised:
        a.read("autzen_trim.las", fields=["X", "no_such_dimension"])
    assert raised.value.code == velmora.ErrorCode.InvalidArgument
    assert "no_such_dimension" in str(raised.value)
    assert "autzen_trim.las" in str(raised.value)
    assert isinstance(raised.value, RuntimeError)
    # Format 1 has no colour.
    with pytest.raises(velmora.Error) as raised:
        a.iter_points("point_time.las", fields=["red"])
    assert raised.value.code == velmora.ErrorCode.InvalidArgument


def test_an_unknown_entry_raises_not_found(corpus_archives):
    archive, _ = corpus_archives["default"]
    with pytest.raises(velmora.Error) as raised:
        velmora.open(archive).read("absent.las")
    assert raised.value.code == velmora.ErrorCode.NotFound
    assert "absent.las" in str(raised.value)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["autzen_trim.las", "v14_format10_fullwave.las", "v12_format1_extrabytes_conifer.las"])
def test_chunks_put_together_are_the_whole_read(kind, name, corpus_archives):
    archive, _ = corpus_archives[kind]
    a = velmora.open(archive)
    whole = a.read(name)
    chunks = list(a.iter_points(name, chunk_size=10000))
    sizes = [len(c) for c in chunks]
    assert all(s == 10000 for s in sizes[:-1]) and 0 < sizes[-1] <= 10000, sizes
    assert sum(sizes) == len(whole)
    assert all(c.dtype == whole.dtype for c in chunks)
    assert np.concatenate(chunks).tobytes() == whole.tobytes()
    # Some fields, in an order of their own.
    fields = ["Y", "classification", "z"]
    part = np.concatenate(list(a.iter_points(name, fields=fields, chunk_size=7777)))
    assert list(part.dtype.names) == fields
    assert np.array_equal(part["Y"], whole["Y"])
    assert np.array_equal(part["classification"], whole["classification"])
    assert np.array_equal(part["z"], a.read(name, fields=["z"])["z"])


def test_the_iterator_says_its_size_and_lets_go_at_the_end(corpus_archives):
    archive, _ = corpus_archives["default"]
    a = velmora.open(archive)
    it = a.iter_points("sample_c.las", fields=["X", "intensity"], chunk_size=5000)
    assert it.point_count == 14408
    assert it.dtype == np.dtype([("X", "<i4"), ("intensity", "<u2")])
    assert not it.closed
    assert [len(c) for c in it] == [5000, 5000, 4408]
    assert it.closed
    with pytest.raises(StopIteration):
        next(it)
    # Closed half way: no more chunks.
    with a.iter_points("sample_c.las", chunk_size=5000) as it:
        assert len(next(it)) == 5000
    assert it.closed
    assert list(it) == []


def test_undescribed_extra_bytes_are_a_byte_subarray(corpus_files, corpus_archives):
    archive, _ = corpus_archives["default"]
    a = velmora.open(archive)
    name = "v14_format6_unregistered_extrabytes.las"
    las = corpus_files[name]
    room = las.record_length - STANDARD_LENGTH[las.point_format]
    assert room > 0
    points = a.read(name, fields=["extra_bytes"])
    assert points.dtype["extra_bytes"] == np.dtype(("u1", (room,)))
    assert points["extra_bytes"].shape == (las.point_count, room)
    assert a.dtype(name, fields=["extra_bytes", "X"]) == np.dtype([("extra_bytes", "u1", (room,)), ("X", "<i4")])


def test_a_field_asked_twice_raises(corpus_archives):
    archive, _ = corpus_archives["default"]
    with pytest.raises(velmora.Error) as raised:
        velmora.open(archive).read("autzen_trim.las", fields=["X", "X"])
    assert raised.value.code == velmora.ErrorCode.InvalidArgument
    assert '"X"' in str(raised.value)
