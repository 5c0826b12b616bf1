"""Shared inputs of the Python module's tests: the corpus of real LAS files
and archives made from it once per run."""

import os
import pathlib

import pytest

import velmora
from rawlas import LasFile

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def corpus_dir():
    """The folder of real LAS files, or None when it is missing."""
    # The same setting as every other test's: the environment first, then
    # the build's default (what CTest passes), then the folder beside the
    # source tree.
    folder = pathlib.Path(os.environ.get("VELMORA_LASDATA") or os.environ.get("VELMORA_LASDATA_DEFAULT")
                          or SOURCE.parent / "shared" / "lasdata")
    return folder if folder.is_dir() else None


def require_corpus():
    folder = corpus_dir()
    if folder is None:
        message = "LAS corpus not found (set VELMORA_LASDATA)"
        if os.environ.get("VELMORA_REQUIRE_CORPUS") == "1":
            pytest.fail(message + "; required by VELMORA_REQUIRE_CORPUS=1", pytrace=False)
        pytest.skip(message + ": skipping")
    return folder


@pytest.fixture(scope="session")
def corpus():
    return require_corpus()


@pytest.fixture(scope="session")
def corpus_files(corpus):
    """Every LAS file of the corpus and of its beyond/ folder, read
    independently: entry name -> LasFile."""
    paths = sorted(corpus.glob("*.las")) + sorted((corpus / "beyond").glob("*.las"))
    files = {p.name: LasFile(p) for p in paths}
    assert len(files) == len(paths), "two corpus files share a name"
    assert files, f"no LAS files in {corpus}"
    return files


def compress_all(files, archive, **options):
    """Compresses the files; a refused file does not stop the others. The
    job's report either way."""
    try:
        return velmora.compress(files, archive, **options)
    except velmora.Error as e:
        assert e.report is not None, f"a failed job without its report: {e}"
        return e.report


@pytest.fixture(scope="session")
def corpus_archives(corpus_files, tmp_path_factory):
    """The whole corpus compressed twice: each file in the kind the library
    picks for it, and every file in the extended kind. kind -> (path, report)."""
    folder = tmp_path_factory.mktemp("archives")
    paths = [f.path for f in corpus_files.values()]
    made = {}
    for kind, extended in (("default", False), ("extended", True)):
        archive = folder / f"corpus-{kind}.vmra"
        made[kind] = (archive, compress_all(paths, archive, extended=extended))
    return made


def pytest_sessionfinish(session, exitstatus):
    # Under CTest a run that skipped the corpus tests and failed nothing is
    # reported as skipped, not as passed.
    code = os.environ.get("VELMORA_SKIP_RETURN_CODE")
    if code and exitstatus == 0 and corpus_dir() is None:
        session.exitstatus = int(code)
