"""`velmora -l -v`: what each entry's stored header and VLRs say, against the
same facts read straight from the original files' bytes here."""

import json
import os
import struct
import subprocess

import pytest

from rawlas import LasFile

CLI = os.environ.get("VELMORA_CLI")

pytestmark = pytest.mark.skipif(not CLI, reason="VELMORA_CLI (the velmora program) not given")


def text(raw):
    return raw.split(b"\0", 1)[0].rstrip(b" ").decode("utf-8", "replace")


def header_facts(las):
    """The facts the listing must give, read from the LAS file's bytes."""
    d = las.data
    major, minor = las.version
    if (major, minor) >= (1, 4) and las.header_size >= 375:
        by_return = list(struct.unpack_from("<15Q", d, 255))
    else:
        by_return = list(struct.unpack_from("<5I", d, 111))
    vlrs, at, end = [], las.header_size, min(las.point_offset, len(d))
    complete = True
    for _ in range(las.vlr_count):
        if at + 54 > end:
            complete = False
            break
        record_id, length = struct.unpack_from("<HH", d, at + 18)
        vlrs.append((text(d[at + 2:at + 18]), record_id, text(d[at + 22:at + 54]), length, False))
        complete = complete and at + 54 + length <= end
        at = min(at + 54 + length, end)
    if (major, minor) >= (1, 4) and las.header_size >= 375:
        start, count = struct.unpack_from("<QI", d, 235)
        at = start
        for _ in range(count if start else 0):
            if at + 60 > len(d):
                break
            record_id, length = struct.unpack_from("<HQ", d, at + 18)
            vlrs.append((text(d[at + 2:at + 18]), record_id, text(d[at + 28:at + 60]), length, True))
            at += 60 + length
    return {
        "las_version": f"{major}.{minor}",
        "point_format": las.point_format,
        "record_length": las.record_length,
        "points": las.point_count,
        "points_by_return": by_return,
        "minimum": dict(zip("xyz", las.minimum)),
        "maximum": dict(zip("xyz", las.maximum)),
        "scale": dict(zip("xyz", las.scale)),
        "offset": dict(zip("xyz", las.offset)),
        "creation_day": struct.unpack_from("<H", d, 90)[0],
        "creation_year": struct.unpack_from("<H", d, 92)[0],
        "system_identifier": text(d[26:58]),
        "generating_software": text(d[58:90]),
        "file_source_id": struct.unpack_from("<H", d, 4)[0],
        "vlrs": vlrs,
        "vlrs_complete": complete,
    }


def listed(path):
    out = subprocess.run([CLI, "--json", "-l", "-v", str(path)], check=True, capture_output=True).stdout
    return json.loads(out)


def comparable(header):
    h = {k: v for k, v in header.items() if k not in ("global_encoding", "coordinate_system")}
    h["vlrs"] = [(v["user_id"], v["record_id"], v["description"], v["length"], v["extended"]) for v in header["vlrs"]]
    return h


@pytest.mark.parametrize("kind", ["default", "extended"])
def test_every_entry_tells_its_header(kind, corpus_files, corpus_archives):
    archive, _ = corpus_archives[kind]
    listing = listed(archive)
    seen = 0
    for entry in listing["entries"]:
        las = corpus_files[entry["name"]]
        assert entry["header"] is not None, entry.get("header_error")
        assert comparable(entry["header"]) == header_facts(las), entry["name"]
        seen += 1
    assert seen >= 20


def test_a_las_file_is_described_without_an_archive(corpus_files):
    for name in ("autzen_trim.las", "v14_format6_evlr.las", "v13_format4_waveform.las"):
        las = corpus_files[name]
        doc = listed(las.path)
        assert doc["las_size"] == len(las.data)
        assert comparable(doc["header"]) == header_facts(las), name


def test_coordinate_systems_from_geotiff_keys_and_from_wkt(corpus_files, corpus_archives):
    archive, _ = corpus_archives["default"]
    crs = {e["name"]: e["header"]["coordinate_system"] for e in listed(archive)["entries"]}
    # GeoTIFF keys alone: the geographic system's code.
    assert crs["epsg_4326.las"] == {"epsg": 4326, "name": None}
    # A WKT: its own name and its outermost authority (not the unit's or the
    # vertical system's nested inside it).
    assert crs["v14_format6_evlr.las"] == {"epsg": 2903, "name": "NAD83(HARN) / New Mexico Central (ftUS)"}
    # A WKT without an authority of its own gives its name alone.
    assert crs["autzen_trim.las"]["name"] == "NAD_1983_HARN_Lambert_Conformal_Conic"
    assert crs["autzen_trim.las"]["epsg"] is None
    shown = subprocess.run([CLI, "-l", "-v", str(archive)], check=True, capture_output=True, text=True).stdout
    assert "coordinate system    EPSG:4326\n" in shown


def test_an_entry_whose_header_is_damaged_says_so_and_the_others_are_told(corpus_files, tmp_path):
    import velmora
    archive = tmp_path / "d.vmra"
    velmora.compress([corpus_files[n].path for n in ("autzen_trim.las", "epsg_4326.las")], str(archive))
    data = bytearray(archive.read_bytes())
    count = struct.unpack_from("<I", data, len(data) - 4)[0]
    directory = len(data) - 4 - 268 * count
    offset = struct.unpack_from("<I", data, directory)[0]  # the first entry's data
    data[offset:offset + 64] = b"\xa5" * 64
    archive.write_bytes(bytes(data))
    entries = listed(archive)["entries"]
    assert entries[0]["header"] is None and entries[0]["header_error"]
    assert entries[1]["header"]["coordinate_system"]["epsg"] == 4326
