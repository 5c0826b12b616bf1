// The Python module "velmora": archives, their entries and their points as
// numpy structured arrays, over libvelmora's public C++ interface alone.
//
// The library's work (decoding, compressing, extracting, testing) runs with
// the GIL released, so other Python threads go on meanwhile. The library
// calls a job's callbacks on the thread that started the job, which here is
// a thread without the GIL: every callback takes it back before it touches
// a Python object.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "velmora/velmora.hpp"

namespace py = pybind11;

namespace {

// velmora.Error, made at import time.
PyObject* g_errorType = nullptr;

// ---- Text ----------------------------------------------------------------

// Names and paths cross as the bytes the file system and the archive hold,
// the way os.fsencode makes them: str (undecodable bytes kept by
// surrogateescape), bytes and path-like objects alike.
std::string BytesOf(const py::handle& value) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(value.ptr(), &encoded)) throw py::error_already_set();
    py::bytes b = py::reinterpret_steal<py::bytes>(encoded);
    return std::string(b);
}

// The reverse of BytesOf for a name the library gives back, so that a name
// read from an archive can be passed to it again unchanged.
py::str NameText(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// Messages are for people: a byte that is not UTF-8 shows as an escape.
py::str MessageText(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "backslashreplace");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// One name, or an iterable of names; None and an empty list mean "all".
std::vector<std::string> NamesOf(const py::handle& value) {
    std::vector<std::string> names;
    if (value.is_none()) return names;
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
        py::hasattr(value, "__fspath__")) {
        names.push_back(BytesOf(value));
        return names;
    }
    for (const py::handle item : py::iter(value)) names.push_back(BytesOf(item));
    return names;
}

// ---- Errors --------------------------------------------------------------

[[noreturn]] void RaiseError(velmora::ErrorCode code, const std::string& message, py::object report = py::none()) {
    py::object type = py::reinterpret_borrow<py::object>(g_errorType);
    py::object error = type(MessageText(message));
    error.attr("code") = py::cast(code);
    error.attr("report") = std::move(report);
    PyErr_SetObject(g_errorType, error.ptr());
    throw py::error_already_set();
}

// ---- Fields and dtypes ---------------------------------------------------

py::object NumpyFormat(const velmora::FieldInfo& f) {
    using T = velmora::FieldType;
    switch (f.type) {
        case T::U8: return py::str("<u1");
        case T::I8: return py::str("<i1");
        case T::U16: return py::str("<u2");
        case T::I16: return py::str("<i2");
        case T::U32: return py::str("<u4");
        case T::I32: return py::str("<i4");
        case T::U64: return py::str("<u8");
        case T::I64: return py::str("<i8");
        case T::F32: return py::str("<f4");
        case T::F64: return py::str("<f8");
        case T::Bytes: break;
    }
    return py::make_tuple("u1", py::make_tuple(f.size));
}

// Packed, in the order the fields were chosen: field j starts where the
// fields before it end, which is also where the copy below puts it.
py::dtype DtypeOf(const std::vector<velmora::FieldInfo>& fields, const std::string& entry) {
    py::list names, formats, offsets;
    std::set<std::string> seen;
    std::size_t at = 0;
    for (const velmora::FieldInfo& f : fields) {
        if (!seen.insert(f.name).second) {
            RaiseError(velmora::ErrorCode::InvalidArgument,
                       entry + ": the field \"" + f.name + "\" is named twice; a record array holds each name once");
        }
        names.append(NameText(f.name));
        formats.append(NumpyFormat(f));
        offsets.append(at);
        at += f.size;
    }
    py::dict layout;
    layout["names"] = names;
    layout["formats"] = formats;
    layout["offsets"] = offsets;
    layout["itemsize"] = at;
    return py::dtype::from_args(layout);
}

// Spreads one column (count values of N bytes back to back) into the field
// at dst of records `stride` bytes apart. A fixed N lets the compiler turn
// the copy into a single load and store.
template <std::size_t N>
void Spread(const uint8_t* src, std::size_t count, uint8_t* dst, std::size_t stride) {
    for (std::size_t i = 0; i < count; ++i, src += N, dst += stride) std::memcpy(dst, src, N);
}

void SpreadAny(const uint8_t* src, std::size_t size, std::size_t count, uint8_t* dst, std::size_t stride) {
    for (std::size_t i = 0; i < count; ++i, src += size, dst += stride) std::memcpy(dst, src, size);
}

// The chunk's columns into count records starting at out.
void SpreadChunk(const velmora::PointChunk& chunk, uint8_t* out, std::size_t stride) {
    std::size_t at = 0;
    for (const velmora::Column& c : chunk.columns) {
        const std::size_t size = c.field.size;
        const uint8_t* src = c.data.data();
        uint8_t* dst = out + at;
        switch (size) {
            case 1: Spread<1>(src, chunk.count, dst, stride); break;
            case 2: Spread<2>(src, chunk.count, dst, stride); break;
            case 4: Spread<4>(src, chunk.count, dst, stride); break;
            case 8: Spread<8>(src, chunk.count, dst, stride); break;
            default: SpreadAny(src, size, chunk.count, dst, stride); break;
        }
        at += size;
    }
}

std::size_t RecordSize(const std::vector<velmora::FieldInfo>& fields) {
    std::size_t n = 0;
    for (const velmora::FieldInfo& f : fields) n += f.size;
    return n;
}

// ---- Points --------------------------------------------------------------

velmora::PointReader OpenReader(const velmora::Archive& archive, const std::string& entry,
                                const std::vector<std::string>& fields, std::size_t chunkPoints, int threads) {
    py::gil_scoped_release unlocked;
    return archive.Points(entry, fields, chunkPoints, threads);
}

// Ctrl+C while points are read: raised between chunks.
void CheckSignals() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

py::array ReadAll(const velmora::Archive& archive, const std::string& entry, const std::vector<std::string>& fields,
                  int threads) {
    velmora::PointReader reader = OpenReader(archive, entry, fields, 0, threads);
    const py::dtype dtype = DtypeOf(reader.Fields(), entry);
    const uint64_t total = reader.PointCount();
    const std::size_t stride = RecordSize(reader.Fields());
    py::array out(dtype, std::vector<py::ssize_t>{static_cast<py::ssize_t>(total)});
    uint8_t* base = static_cast<uint8_t*>(out.mutable_data());
    velmora::PointChunk chunk;
    uint64_t got = 0;
    bool overrun = false;
    for (;;) {
        bool more;
        {
            py::gil_scoped_release unlocked;
            more = reader.Next(chunk);
            if (more && chunk.count <= total - got) SpreadChunk(chunk, base + got * stride, stride);
            else if (more) overrun = true;
        }
        if (overrun) break;
        if (!more) break;
        got += chunk.count;
        CheckSignals();
    }
    // The array was sized from the header's count before a point was read;
    // an entry that gives another number of points must not pass for whole.
    if (overrun || got != total) {
        RaiseError(velmora::ErrorCode::Damaged,
                   entry + ": the points read (" + (overrun ? "more than " + std::to_string(total) : std::to_string(got)) +
                       ") differ from the header's count (" + std::to_string(total) + ")");
    }
    return out;
}

// iter_points: a reader that hands out one structured array per chunk.
class PointIterator {
public:
    PointIterator(velmora::PointReader reader, std::string entry)
        : reader(std::make_unique<velmora::PointReader>(std::move(reader))), entry(std::move(entry)) {
        fields = this->reader->Fields();
        dtype = DtypeOf(fields, this->entry);
        stride = RecordSize(fields);
        total = this->reader->PointCount();
    }

    py::array Next() {
        velmora::PointChunk chunk;
        bool more = false;
        {
            py::gil_scoped_release unlocked;
            // Two threads may share an iterator; the reader takes one at a time.
            std::lock_guard<std::mutex> lock(mutex);
            if (reader) {
                try {
                    more = reader->Next(chunk);
                } catch (...) {
                    reader.reset();
                    throw;
                }
                // At the end the archive is let go at once, not when Python
                // gets round to collecting the iterator.
                if (!more) reader.reset();
            }
        }
        if (!more) throw py::stop_iteration();
        py::array out(dtype, std::vector<py::ssize_t>{static_cast<py::ssize_t>(chunk.count)});
        uint8_t* base = static_cast<uint8_t*>(out.mutable_data());
        {
            py::gil_scoped_release unlocked;
            SpreadChunk(chunk, base, stride);
        }
        return out;
    }

    void Close() {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(mutex);
        reader.reset();
    }

    py::dtype Dtype() const { return dtype; }
    uint64_t PointCount() const { return total; }
    bool Closed() const { return !reader; }

private:
    std::unique_ptr<velmora::PointReader> reader;
    std::mutex mutex;
    std::string entry;
    std::vector<velmora::FieldInfo> fields;
    py::dtype dtype;
    std::size_t stride = 0;
    uint64_t total = 0;
};

// ---- Jobs ----------------------------------------------------------------

struct CallbackFailed {};

// The Python side of a job's options, and the first Python exception one of
// its callbacks raised (the job is stopped then, and the exception raised
// again when it has ended).
class JobCallbacks {
public:
    JobCallbacks(int threads, bool extended, py::object replace, py::object overwrite, py::object progress)
        : replace(std::move(replace)), overwrite(std::move(overwrite)), progress(std::move(progress)) {
        options.threads = threads;
        options.extendedForAll = extended;
        options.confirmReplace = [this](const std::string& name) { return Answer(this->replace, name); };
        options.confirmOverwrite = [this](const std::string& path) { return Answer(this->overwrite, path); };
        if (!this->progress.is_none()) {
            options.progress = [this](std::size_t done, std::size_t total, double fraction) {
                Call([&] { this->progress(done, total, fraction); });
            };
        }
        options.cancelled = [this] {
            bool stop = false;
            Call([&] {
                CheckSignals();
                stop = pending.has_value();
            });
            return stop;
        };
    }

    velmora::JobOptions options;

    // With the GIL held again after the job.
    void RaisePending() {
        if (pending) {
            py::error_already_set e = std::move(*pending);
            pending.reset();
            throw e;
        }
    }

private:
    template <class F>
    void Call(F f) {
        py::gil_scoped_acquire locked;
        if (pending) throw CallbackFailed{};
        try {
            f();
        } catch (py::error_already_set& e) {
            pending.emplace(std::move(e));
            throw CallbackFailed{};
        }
    }

    // A bool is the answer to every question; a callable is asked each time.
    bool Answer(const py::object& how, const std::string& subject) {
        bool yes = false;
        Call([&] {
            if (PyCallable_Check(how.ptr())) yes = py::bool_(how(NameText(subject)));
            else yes = py::bool_(how);
        });
        return yes;
    }

    py::object replace, overwrite, progress;
    std::optional<py::error_already_set> pending;
};

template <class Work>
velmora::JobReport RunJob(JobCallbacks& callbacks, Work work) {
    std::optional<velmora::JobReport> report;
    {
        py::gil_scoped_release unlocked;
        report = work(callbacks.options);
    }
    callbacks.RaisePending();
    return std::move(*report);
}

bool IsFailure(velmora::Outcome o) {
    using O = velmora::Outcome;
    return o == O::Refused || o == O::Damaged || o == O::Failed || o == O::Stopped;
}

// A job whose items did not all go through raises, naming each that failed;
// the whole report rides on the exception. Declined items (the caller's own
// "no") are no failure.
py::object Finish(velmora::JobReport report, bool damagedIsFailure = true) {
    std::string message;
    velmora::ErrorCode code = velmora::ErrorCode::Ok;
    for (const velmora::ItemReport& item : report.items) {
        if (!IsFailure(item.outcome)) continue;
        if (!damagedIsFailure && item.outcome == velmora::Outcome::Damaged) continue;
        if (!message.empty()) message += "\n";
        message += item.message.empty() ? item.name : item.message;
        if (code == velmora::ErrorCode::Ok) code = item.code == velmora::ErrorCode::Ok ? velmora::ErrorCode::Failed : item.code;
    }
    if (report.stopped && code == velmora::ErrorCode::Ok) {
        code = velmora::ErrorCode::Stopped;
        message = report.summary.empty() ? std::string("stopped") : report.summary;
    }
    py::object result = py::cast(std::move(report));
    if (code != velmora::ErrorCode::Ok) RaiseError(code, message, result);
    return result;
}

// ---- Archive -------------------------------------------------------------

class PyArchive {
public:
    explicit PyArchive(velmora::Archive a) : archive(std::move(a)) {}
    velmora::Archive archive;
};

velmora::Archive OpenArchive(const std::string& path) {
    py::gil_scoped_release unlocked;
    return velmora::Archive::Open(path);
}

py::object Tuple3(const double (&v)[3]) { return py::make_tuple(v[0], v[1], v[2]); }

}  // namespace

PYBIND11_MODULE(velmora, m) {
    m.doc() =
        "Velmora archives (.vmra) of LAS point clouds.\n\n"
        "open(path) gives an Archive: its entries, each entry's points as numpy\n"
        "structured arrays (read, iter_points), and the jobs (add, extract, test,\n"
        "delete). compress(files, path) makes or adds to an archive.\n"
        "Failures raise velmora.Error, whose .code is a velmora.ErrorCode.";
    m.attr("__version__") = velmora::Version();

    py::enum_<velmora::ErrorCode>(m, "ErrorCode", "What kind of failure a velmora.Error is.")
        .value("Ok", velmora::ErrorCode::Ok)
        .value("InvalidArgument", velmora::ErrorCode::InvalidArgument)
        .value("NotFound", velmora::ErrorCode::NotFound)
        .value("NotAnArchive", velmora::ErrorCode::NotAnArchive)
        .value("Damaged", velmora::ErrorCode::Damaged)
        .value("Refused", velmora::ErrorCode::Refused)
        .value("Newer", velmora::ErrorCode::Newer)
        .value("Output", velmora::ErrorCode::Output)
        .value("Stopped", velmora::ErrorCode::Stopped)
        .value("Busy", velmora::ErrorCode::Busy)
        .value("Failed", velmora::ErrorCode::Failed);

    py::enum_<velmora::Outcome>(m, "Outcome", "What became of one file or entry of a job.")
        .value("Added", velmora::Outcome::Added)
        .value("Replaced", velmora::Outcome::Replaced)
        .value("Extracted", velmora::Outcome::Extracted)
        .value("Passed", velmora::Outcome::Passed)
        .value("Unverified", velmora::Outcome::Unverified)
        .value("Deleted", velmora::Outcome::Deleted)
        .value("Declined", velmora::Outcome::Declined)
        .value("Refused", velmora::Outcome::Refused)
        .value("Damaged", velmora::Outcome::Damaged)
        .value("Failed", velmora::Outcome::Failed)
        .value("Stopped", velmora::Outcome::Stopped);

    g_errorType = PyErr_NewExceptionWithDoc(
        "velmora.Error",
        "A failure of the library: .code (velmora.ErrorCode) says what kind; the message is the\n"
        "one the command line prints, naming the entry or file. A job's failure also carries\n"
        ".report, the job's Report.",
        PyExc_RuntimeError, nullptr);
    if (!g_errorType) throw py::error_already_set();
    py::object errorType = py::reinterpret_borrow<py::object>(g_errorType);
    errorType.attr("code") = velmora::ErrorCode::Failed;
    errorType.attr("report") = py::none();
    m.attr("Error") = errorType;
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const velmora::Error& e) {
            try {
                RaiseError(e.code(), e.what());
            } catch (py::error_already_set& set) {
                set.restore();
            }
        }
    });

    py::class_<velmora::ItemReport>(m, "Item", "One file or entry of a job and what became of it.")
        .def_property_readonly("name", [](const velmora::ItemReport& i) { return NameText(i.name); })
        .def_readonly("outcome", &velmora::ItemReport::outcome)
        .def_readonly("code", &velmora::ItemReport::code)
        .def_property_readonly("message", [](const velmora::ItemReport& i) { return MessageText(i.message); })
        .def("__repr__", [](const velmora::ItemReport& i) {
            return py::str("<velmora.Item {!r} {}>").format(NameText(i.name), py::cast(i.outcome));
        });

    py::class_<velmora::JobReport>(m, "Report", "What a job did with each of its items.")
        .def_readonly("items", &velmora::JobReport::items)
        .def_readonly("stopped", &velmora::JobReport::stopped)
        .def_readonly("all_succeeded", &velmora::JobReport::allSucceeded)
        .def_property_readonly("summary", [](const velmora::JobReport& r) { return MessageText(r.summary); })
        .def("__repr__", [](const velmora::JobReport& r) {
            return py::str("<velmora.Report {!r}>").format(MessageText(r.summary));
        });

    py::class_<velmora::EntryInfo>(m, "Entry",
                                   "An entry of an archive, as its directory and stored header tell it "
                                   "(nothing is decoded).")
        .def_property_readonly("name", [](const velmora::EntryInfo& e) { return NameText(e.name); })
        .def_readonly("las_size", &velmora::EntryInfo::lasSize, "bytes of the LAS file it gives back")
        .def_readonly("stored_size", &velmora::EntryInfo::storedSize, "bytes it takes in the archive")
        .def_readonly("header_read", &velmora::EntryInfo::headerRead,
                      "False when the stored header is unreadable (the facts below are zero then)")
        .def_readonly("point_count", &velmora::EntryInfo::pointCount)
        .def_readonly("point_format", &velmora::EntryInfo::pointFormat)
        .def_property_readonly("version",
                               [](const velmora::EntryInfo& e) { return py::make_tuple(e.versionMajor, e.versionMinor); },
                               "(major, minor) of the LAS file")
        .def_readonly("record_length", &velmora::EntryInfo::recordLength)
        .def_property_readonly("bounds",
                               [](const velmora::EntryInfo& e) {
                                   return py::make_tuple(Tuple3(e.minimum), Tuple3(e.maximum));
                               },
                               "((min x, min y, min z), (max x, max y, max z)) in real units")
        .def_property_readonly("scale", [](const velmora::EntryInfo& e) { return Tuple3(e.scale); })
        .def_property_readonly("offset", [](const velmora::EntryInfo& e) { return Tuple3(e.offset); })
        .def_readonly("has_checksum", &velmora::EntryInfo::hasChecksum)
        .def_readonly("extended", &velmora::EntryInfo::extended, "kept in the extended entry kind")
        .def("__repr__", [](const velmora::EntryInfo& e) {
            return py::str("<velmora.Entry {!r} {} points, format {}>").format(NameText(e.name), e.pointCount,
                                                                                e.pointFormat);
        });

    py::class_<PointIterator>(m, "PointIterator",
                              "The points of an entry, one structured array per chunk. The archive stays "
                              "open until the last chunk has been read or close() is called.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &PointIterator::Next)
        .def("close", &PointIterator::Close)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PointIterator& it, py::args) { it.Close(); })
        .def_property_readonly("dtype", &PointIterator::Dtype)
        .def_property_readonly("point_count", &PointIterator::PointCount)
        .def_property_readonly("closed", &PointIterator::Closed);

    const char* jobArgs =
        "threads: engine threads (0: one per core). progress: called as progress(done, total, "
        "fraction). replace / overwrite: the answer to 'replace this entry?' / 'overwrite this "
        "file?', a bool or a callable given the entry name or path. An item that fails raises "
        "velmora.Error naming it (the Report is its .report); a declined item does not.";

    py::class_<PyArchive>(m, "Archive",
                          "A .vmra archive. Every call opens the file, works and closes it again, so "
                          "other programs may use the archive in between; 'with' is offered for "
                          "symmetry and holds nothing open.")
        .def_property_readonly("path", [](const PyArchive& a) { return NameText(a.archive.Path()); })
        .def_property_readonly(
            "entries",
            [](const PyArchive& a) {
                py::gil_scoped_release unlocked;
                return a.archive.Entries();
            },
            "The entries, in the archive's order.")
        .def(
            "entry",
            [](const PyArchive& a, const py::object& name) {
                const std::string n = BytesOf(name);
                py::gil_scoped_release unlocked;
                return a.archive.Entry(n);
            },
            py::arg("name"))
        .def(
            "fields",
            [](const PyArchive& a, const py::object& name) {
                const std::string n = BytesOf(name);
                std::vector<velmora::FieldInfo> fields;
                {
                    py::gil_scoped_release unlocked;
                    fields = a.archive.Fields(n);
                }
                py::list names;
                for (const velmora::FieldInfo& f : fields) names.append(NameText(f.name));
                return names;
            },
            py::arg("name"), "Every field the entry's points offer: record order, then x, y, z.")
        .def(
            "dtype",
            [](const PyArchive& a, const py::object& name, const py::object& fields) {
                const std::string n = BytesOf(name);
                const std::vector<std::string> chosen = NamesOf(fields);
                velmora::PointReader reader = OpenReader(a.archive, n, chosen, 0, 1);
                return DtypeOf(reader.Fields(), n);
            },
            py::arg("name"), py::arg("fields") = py::none(), "The dtype read() gives for these fields.")
        .def(
            "read",
            [](const PyArchive& a, const py::object& name, const py::object& fields, int threads) {
                return ReadAll(a.archive, BytesOf(name), NamesOf(fields), threads);
            },
            py::arg("name"), py::arg("fields") = py::none(), py::kw_only(), py::arg("threads") = 0,
            "The entry's points as one structured array, a field per dimension in the order asked "
            "(no fields: every dimension but the scaled x, y, z). Reading every dimension also "
            "checks the entry's checksum.")
        .def(
            "iter_points",
            [](const PyArchive& a, const py::object& name, const py::object& fields, std::size_t chunkSize,
               int threads) {
                const std::string n = BytesOf(name);
                return std::make_unique<PointIterator>(OpenReader(a.archive, n, NamesOf(fields), chunkSize, threads), n);
            },
            py::arg("name"), py::arg("fields") = py::none(), py::kw_only(), py::arg("chunk_size") = 0,
            py::arg("threads") = 0,
            "The entry's points a chunk at a time (at most chunk_size points each; 0: the "
            "library's own), so memory stays bounded whatever the entry's size.")
        .def(
            "add",
            [](PyArchive& a, const py::object& files, int threads, bool extended, py::object replace,
               py::object progress) {
                JobCallbacks cb(threads, extended, std::move(replace), py::bool_(false), std::move(progress));
                const std::vector<std::string> list = NamesOf(files);
                return Finish(RunJob(cb, [&](const velmora::JobOptions& o) { return a.archive.Add(list, o); }));
            },
            py::arg("files"), py::kw_only(), py::arg("threads") = 0, py::arg("extended") = false,
            py::arg("replace") = false, py::arg("progress") = py::none(),
            (std::string("Adds LAS files. extended: store them all in the extended kind. ") + jobArgs).c_str())
        .def(
            "extract",
            [](PyArchive& a, const py::object& names, const py::object& folder, int threads, py::object overwrite,
               py::object progress) {
                JobCallbacks cb(threads, false, py::bool_(false), std::move(overwrite), std::move(progress));
                const std::vector<std::string> list = NamesOf(names);
                const std::string to = folder.is_none() ? std::string() : BytesOf(folder);
                // As the command line does with -o: the folder and its parents are made.
                if (!to.empty()) {
                    std::error_code ec;
                    std::filesystem::create_directories(to, ec);
                    if (ec) {
                        RaiseError(velmora::ErrorCode::Output,
                                   to + ": the folder cannot be made (" + ec.message() + ")");
                    }
                }
                return Finish(RunJob(cb, [&](const velmora::JobOptions& o) { return a.archive.Extract(list, to, o); }));
            },
            py::arg("names") = py::none(), py::arg("folder") = py::none(), py::kw_only(), py::arg("threads") = 0,
            py::arg("overwrite") = false, py::arg("progress") = py::none(),
            (std::string("Extracts entries (a name, a list; None: all) into folder (None: the current "
                         "folder; made with its parents when missing). ") +
             jobArgs)
                .c_str())
        .def(
            "test",
            [](PyArchive& a, const py::object& names, int threads, py::object progress) {
                JobCallbacks cb(threads, false, py::bool_(false), py::bool_(false), std::move(progress));
                const std::vector<std::string> list = NamesOf(names);
                velmora::JobReport report =
                    RunJob(cb, [&](const velmora::JobOptions& o) { return a.archive.Test(list, o); });
                py::list damaged;
                for (const velmora::ItemReport& item : report.items) {
                    if (item.outcome == velmora::Outcome::Damaged) damaged.append(NameText(item.name));
                }
                Finish(std::move(report), false);
                return damaged;
            },
            py::arg("names") = py::none(), py::kw_only(), py::arg("threads") = 0, py::arg("progress") = py::none(),
            "Decodes the entries (None: all) and checks each; returns the names of the damaged "
            "ones, [] when all are sound. Other failures raise velmora.Error.")
        .def(
            "delete",
            [](PyArchive& a, const py::object& names, py::object progress) {
                const std::vector<std::string> list = NamesOf(names);
                if (list.empty()) {
                    RaiseError(velmora::ErrorCode::InvalidArgument, a.archive.Path() + ": no entry named to delete");
                }
                JobCallbacks cb(0, false, py::bool_(false), py::bool_(false), std::move(progress));
                return Finish(RunJob(cb, [&](const velmora::JobOptions& o) { return a.archive.Delete(list, o); }));
            },
            py::arg("names"), py::kw_only(), py::arg("progress") = py::none(),
            "Deletes the named entries (a name or a list).")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyArchive&, py::args) {})
        .def("__repr__", [](const PyArchive& a) {
            return py::str("<velmora.Archive {!r}>").format(NameText(a.archive.Path()));
        });

    m.def(
        "open", [](const py::object& path) { return PyArchive(OpenArchive(BytesOf(path))); }, py::arg("path"),
        "Opens an archive: velmora.Error with code NotFound when there is none, NotAnArchive when "
        "the file is something else.");

    m.def(
        "compress",
        [](const py::object& files, const py::object& archive, int threads, bool extended, py::object replace,
           py::object progress) {
            JobCallbacks cb(threads, extended, std::move(replace), py::bool_(false), std::move(progress));
            const std::vector<std::string> list = NamesOf(files);
            const std::string path = BytesOf(archive);
            return Finish(
                RunJob(cb, [&](const velmora::JobOptions& o) { return velmora::Archive::Compress(list, path, o); }));
        },
        py::arg("files"), py::arg("archive"), py::kw_only(), py::arg("threads") = 0, py::arg("extended") = false,
        py::arg("replace") = false, py::arg("progress") = py::none(),
        (std::string("Compresses LAS files into the archive, making it when it is missing. ") + jobArgs).c_str());
}
