"""A damaged entry is never read as sound: reading it raises, naming it, and
test() lists it."""

import shutil

import pytest

import velmora

NAME = "autzen_trim.las"


def damage(path):
    """Flips bytes in the middle of the archive, where the entry's coded
    points lie (its directory is at the end, its header at the start)."""
    data = bytearray(path.read_bytes())
    for i in range(len(data) * 40 // 100, len(data) * 60 // 100, 97):
        data[i] ^= 0xFF
    path.write_bytes(bytes(data))


@pytest.fixture(scope="module", params=[False, True], ids=["classic", "extended"])
def archives(request, corpus, tmp_path_factory):
    folder = tmp_path_factory.mktemp("damage")
    sound = folder / "sound.vmra"
    velmora.compress([corpus / NAME], sound, extended=request.param)
    assert velmora.open(sound).entry(NAME).extended == request.param
    damaged = folder / "damaged.vmra"
    shutil.copyfile(sound, damaged)
    damage(damaged)
    return sound, damaged


def test_the_sound_archive_reads_and_tests_clean(archives):
    sound, _ = archives
    a = velmora.open(sound)
    assert len(a.read(NAME)) == 110000
    assert a.test() == []


def test_reading_every_field_of_a_damaged_entry_raises_naming_it(archives):
    _, damaged = archives
    a = velmora.open(damaged)
    with pytest.raises(velmora.Error) as raised:
        a.read(NAME)
    assert raised.value.code == velmora.ErrorCode.Damaged
    assert raised.value.code.name == "Damaged"
    assert NAME in str(raised.value)
    with pytest.raises(velmora.Error) as raised:
        for _ in a.iter_points(NAME, chunk_size=10000):
            pass
    assert raised.value.code == velmora.ErrorCode.Damaged
    assert NAME in str(raised.value)


def test_test_names_the_damaged_entry(archives):
    _, damaged = archives
    assert velmora.open(damaged).test() == [NAME]


def test_extracting_a_damaged_entry_raises_and_leaves_no_file(archives, tmp_path):
    _, damaged = archives
    with pytest.raises(velmora.Error) as raised:
        velmora.open(damaged).extract(NAME, tmp_path)
    assert raised.value.code == velmora.ErrorCode.Damaged
    assert NAME in str(raised.value)
    assert [i.outcome for i in raised.value.report.items] == [velmora.Outcome.Damaged]
    assert list(tmp_path.iterdir()) == []
