"""Compressing, adding, extracting, testing and deleting from Python: the
questions, the progress and the failures."""

import filecmp
import threading

import pytest

import velmora

SMALL = ["sample_c.las", "interesting.las", "point_color.las"]


@pytest.fixture
def small(corpus, tmp_path):
    """An archive of three small corpus files."""
    archive = tmp_path / "small.vmra"
    report = velmora.compress([corpus / n for n in SMALL], archive)
    assert [i.outcome for i in report.items] == [velmora.Outcome.Added] * 3
    assert report.all_succeeded
    return archive


def test_extracted_files_are_the_originals(small, corpus, tmp_path):
    a = velmora.open(small)
    out = tmp_path / "out" / "deeper"
    report = a.extract(None, out)
    assert sorted(i.name for i in report.items) == sorted(SMALL)
    for name in SMALL:
        assert filecmp.cmp(out / name, corpus / name, shallow=False), name
    one = tmp_path / "one"
    a.extract("interesting.las", one)
    assert [p.name for p in one.iterdir()] == ["interesting.las"]
    two = tmp_path / "two"
    a.extract(["sample_c.las", "point_color.las"], two)
    assert sorted(p.name for p in two.iterdir()) == ["point_color.las", "sample_c.las"]


def test_overwrite_is_the_answer_to_a_file_in_the_way(small, corpus, tmp_path):
    a = velmora.open(small)
    target = tmp_path / "sample_c.las"
    target.write_bytes(b"in the way")
    report = a.extract("sample_c.las", tmp_path)
    assert [i.outcome for i in report.items] == [velmora.Outcome.Declined]
    assert target.read_bytes() == b"in the way"
    asked = []
    report = a.extract("sample_c.las", tmp_path, overwrite=lambda path: asked.append(path) or True)
    assert asked == [str(target)]
    assert [i.outcome for i in report.items] == [velmora.Outcome.Extracted]
    assert filecmp.cmp(target, corpus / "sample_c.las", shallow=False)


def test_replace_is_the_answer_to_an_entry_of_the_same_name(small, corpus, tmp_path):
    # Another file under an existing entry's name.
    other = tmp_path / "sample_c.las"
    other.write_bytes((corpus / "point_color.las").read_bytes())
    report = velmora.compress([other], small)
    assert [i.outcome for i in report.items] == [velmora.Outcome.Declined]
    assert velmora.open(small).entry("sample_c.las").point_count == 14408
    asked = []
    report = velmora.open(small).add([other], replace=lambda name: asked.append(name) or True)
    assert asked == ["sample_c.las"]
    assert [i.outcome for i in report.items] == [velmora.Outcome.Replaced]
    assert velmora.open(small).entry("sample_c.las").point_count == 1065
    assert velmora.open(small).test() == []


def test_progress_is_reported_on_the_calling_thread(corpus, tmp_path):
    calls = []
    caller = threading.get_ident()

    def progress(done, total, fraction):
        calls.append((done, total, fraction, threading.get_ident()))

    velmora.compress([corpus / "autzen_trim.las", corpus / "sample_c.las"], tmp_path / "p.vmra",
                     progress=progress)
    assert calls, "no progress reported"
    assert all(c[3] == caller for c in calls)
    assert all(c[1] == 2 and 0 <= c[0] <= 2 and 0.0 <= c[2] <= 1.0 for c in calls)
    assert calls[-1][0] == 2
    done = [c[0] for c in calls]
    assert done == sorted(done)


def test_an_exception_in_a_callback_stops_the_job_and_comes_back(corpus, tmp_path):
    archive = tmp_path / "stopped.vmra"
    velmora.compress([corpus / "point_color.las"], archive)
    calls = []

    def progress(done, total, fraction):
        calls.append(done)
        raise KeyError("from the callback")

    # The first file takes a second or more on one thread: progress is first
    # reported while it is being stored.
    with pytest.raises(KeyError, match="from the callback"):
        velmora.compress([corpus / "beyond" / "v12_format1_megaplot.las", corpus / "sample_c.las"], archive,
                         progress=progress, threads=1)
    assert calls == [0]
    # Stopped in the first file: the archive is as it was.
    assert [e.name for e in velmora.open(archive).entries] == ["point_color.las"]
    assert velmora.open(archive).test() == []


def test_a_refused_file_raises_naming_it_and_the_rest_are_added(corpus, tmp_path):
    archive = tmp_path / "mixed.vmra"
    with pytest.raises(velmora.Error) as raised:
        velmora.compress([corpus / "garbage_vlr_count.las", corpus / "sample_c.las"], archive)
    error = raised.value
    assert error.code == velmora.ErrorCode.Refused
    assert "garbage_vlr_count.las" in str(error)
    assert "sample_c.las" not in str(error)
    assert [i.outcome for i in error.report.items] == [velmora.Outcome.Refused, velmora.Outcome.Added]
    assert [e.name for e in velmora.open(archive).entries] == ["sample_c.las"]


def test_a_missing_file_raises_not_found(corpus, tmp_path):
    with pytest.raises(velmora.Error) as raised:
        velmora.compress([tmp_path / "absent.las"], tmp_path / "x.vmra")
    assert raised.value.code == velmora.ErrorCode.NotFound
    assert "absent.las" in str(raised.value)


def test_delete_removes_only_the_named_entries(small):
    a = velmora.open(small)
    report = a.delete(["interesting.las"])
    assert [i.outcome for i in report.items] == [velmora.Outcome.Deleted]
    assert sorted(e.name for e in a.entries) == ["point_color.las", "sample_c.las"]
    with pytest.raises(velmora.Error) as raised:
        a.delete("interesting.las")
    assert raised.value.code == velmora.ErrorCode.NotFound
    assert "interesting.las" in str(raised.value)
    with pytest.raises(velmora.Error) as raised:
        a.delete([])
    assert raised.value.code == velmora.ErrorCode.InvalidArgument
    assert len(a.entries) == 2


def test_extended_stores_every_file_in_the_extended_kind(corpus, tmp_path):
    archive = tmp_path / "ext.vmra"
    velmora.compress([corpus / n for n in SMALL], archive, extended=True, threads=1)
    entries = velmora.open(archive).entries
    assert [e.extended for e in entries] == [True] * 3
    assert velmora.open(archive).test() == []
