#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "velmora/velmora.h"
#include "velmora/velmora.hpp"

struct vm_archive {
    velmora::Archive archive;
    std::vector<velmora::EntryInfo> entries;
};

struct vm_reader {
    velmora::PointReader reader;
    velmora::PointChunk chunk;
};

namespace {

thread_local std::string lastError;

vm_status Fail(vm_status status, std::string message) {
    lastError = std::move(message);
    return status;
}

// Runs f, turning whatever it throws into a status and a message: nothing
// crosses into C as an exception.
template <class F>
vm_status Guard(F&& f) {
    lastError.clear();
    try {
        f();
        return VM_OK;
    } catch (const velmora::Error& e) {
        return Fail(static_cast<vm_status>(e.code()), e.what());
    } catch (const std::bad_alloc&) {
        return Fail(VM_FAILED, "Out of memory.");
    } catch (const std::exception& e) {
        return Fail(VM_FAILED, e.what());
    } catch (...) {
        return Fail(VM_FAILED, "Unknown failure.");
    }
}

std::vector<std::string> Strings(const char* const* items, std::size_t count) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) {
        if (!items || !items[i]) throw velmora::Error(velmora::ErrorCode::InvalidArgument, "A name is missing (null).");
        out.emplace_back(items[i]);
    }
    return out;
}

velmora::JobOptions OptionsOf(const vm_job_options* o) {
    velmora::JobOptions options;
    if (!o) return options;
    options.threads = o->threads;
    options.extendedForAll = o->extended_for_all != 0;
    void* user = o->user;
    if (o->progress) {
        // The C callback both reports and stops: its answer is kept for the
        // poll that follows.
        auto stop = std::make_shared<bool>(false);
        vm_progress_fn fn = o->progress;
        options.progress = [fn, user, stop](std::size_t done, std::size_t total, double fraction) {
            *stop = *stop || fn(user, done, total, fraction) != 0;
        };
        options.cancelled = [stop] { return *stop; };
    }
    if (o->confirm_replace) {
        vm_confirm_fn fn = o->confirm_replace;
        options.confirmReplace = [fn, user](const std::string& s) { return fn(user, s.c_str()) != 0; };
    }
    if (o->confirm_overwrite) {
        vm_confirm_fn fn = o->confirm_overwrite;
        options.confirmOverwrite = [fn, user](const std::string& s) { return fn(user, s.c_str()) != 0; };
    }
    if (o->item_finished) {
        vm_item_fn fn = o->item_finished;
        options.itemFinished = [fn, user](const velmora::ItemReport& r) {
            const vm_item_report report{r.name.c_str(), r.index,       r.count,         static_cast<vm_status>(r.code),
                                        r.message.c_str(), r.lasBytes, r.storedBytes};
            return fn(user, &report) == 0;
        };
    }
    return options;
}

// A job's status: the first item that did not do what was asked, and one
// line for each such item.
vm_status StatusOf(const velmora::JobReport& report) {
    vm_status status = VM_OK;
    std::string lines;
    for (const velmora::ItemReport& item : report.items) {
        if (item.code == velmora::ErrorCode::Ok) continue;
        if (status == VM_OK) status = static_cast<vm_status>(item.code);
        if (!lines.empty()) lines += "\n";
        lines += item.message.empty() ? item.name + ": " + report.summary : item.message;
    }
    // Stopped, or ended after an item by the caller's answer.
    if (status == VM_OK && (report.stopped || report.ended)) return Fail(VM_STOPPED, report.summary);
    if (status == VM_OK) return VM_OK;
    return Fail(status, lines);
}

vm_status NullHandle() { return Fail(VM_INVALID_ARGUMENT, "The handle is null."); }

// A job's status, or the status of what was thrown before it could run.
template <class F>
vm_status JobStatus(F&& job) {
    vm_status status = VM_OK;
    const vm_status guard = Guard([&] { status = StatusOf(job()); });
    return guard != VM_OK ? guard : status;
}

}  // namespace

extern "C" {

const char* vm_version(void) {
    static const std::string version = velmora::Version();
    return version.c_str();
}

const char* vm_last_error(void) { return lastError.c_str(); }

vm_status vm_archive_open(const char* path, vm_archive** out) {
    if (!path || !out) return Fail(VM_INVALID_ARGUMENT, "The path or the handle's place is null.");
    return Guard([&] {
        auto a = new vm_archive{velmora::Archive::Open(path), {}};
        try {
            a->entries = a->archive.Entries();
        } catch (...) {
            delete a;
            throw;
        }
        *out = a;
    });
}

void vm_archive_close(vm_archive* archive) { delete archive; }

vm_status vm_archive_refresh(vm_archive* archive) {
    if (!archive) return NullHandle();
    return Guard([&] { archive->entries = archive->archive.Entries(); });
}

size_t vm_archive_entry_count(const vm_archive* archive) { return archive ? archive->entries.size() : 0; }

vm_status vm_archive_entry(const vm_archive* archive, size_t index, vm_entry_info* info) {
    if (!archive || !info) return NullHandle();
    if (index >= archive->entries.size()) return Fail(VM_INVALID_ARGUMENT, "No entry has that index.");
    const velmora::EntryInfo& e = archive->entries[index];
    *info = vm_entry_info{};
    info->name = e.name.c_str();
    info->las_size = e.lasSize;
    info->stored_size = e.storedSize;
    info->header_read = e.headerRead;
    info->version_major = e.versionMajor;
    info->version_minor = e.versionMinor;
    info->point_format = e.pointFormat;
    info->record_length = e.recordLength;
    info->point_count = e.pointCount;
    for (int a = 0; a < 3; ++a) {
        info->minimum[a] = e.minimum[a];
        info->maximum[a] = e.maximum[a];
        info->scale[a] = e.scale[a];
        info->offset[a] = e.offset[a];
    }
    info->has_checksum = e.hasChecksum;
    info->extended = e.extended;
    lastError.clear();
    return VM_OK;
}

vm_status vm_reader_open(vm_archive* archive, const char* entry_name, const char* const* fields,
                         size_t field_count, size_t chunk_points, int threads, vm_reader** out) {
    if (!archive || !entry_name || !out) return NullHandle();
    return Guard([&] {
        *out = new vm_reader{archive->archive.Points(entry_name, Strings(fields, field_count), chunk_points, threads), {}};
    });
}

void vm_reader_close(vm_reader* reader) { delete reader; }

uint64_t vm_reader_point_count(const vm_reader* reader) { return reader ? reader->reader.PointCount() : 0; }

size_t vm_reader_field_count(const vm_reader* reader) { return reader ? reader->reader.Fields().size() : 0; }

vm_status vm_reader_field(const vm_reader* reader, size_t index, vm_field_info* info) {
    if (!reader || !info) return NullHandle();
    const auto& fields = reader->reader.Fields();
    if (index >= fields.size()) return Fail(VM_INVALID_ARGUMENT, "No field has that index.");
    info->name = fields[index].name.c_str();
    info->type = static_cast<vm_type>(fields[index].type);
    info->size = fields[index].size;
    lastError.clear();
    return VM_OK;
}

vm_status vm_reader_next(vm_reader* reader, size_t* count) {
    if (!reader || !count) return NullHandle();
    *count = 0;
    return Guard([&] {
        if (reader->reader.Next(reader->chunk)) *count = reader->chunk.count;
    });
}

const void* vm_reader_column(const vm_reader* reader, size_t index) {
    if (!reader || index >= reader->chunk.columns.size()) return nullptr;
    return reader->chunk.columns[index].data.data();
}

vm_status vm_compress(const char* const* las_files, size_t count, const char* archive_path,
                      const vm_job_options* options) {
    if (!archive_path) return Fail(VM_INVALID_ARGUMENT, "The archive path is null.");
    return JobStatus([&] {
        return velmora::Archive::Compress(Strings(las_files, count), archive_path, OptionsOf(options));
    });
}

vm_status vm_archive_add(vm_archive* archive, const char* const* las_files, size_t count,
                         const vm_job_options* options) {
    if (!archive) return NullHandle();
    return JobStatus([&] { return archive->archive.Add(Strings(las_files, count), OptionsOf(options)); });
}

vm_status vm_archive_extract(vm_archive* archive, const char* const* entries, size_t count, const char* folder,
                             const vm_job_options* options) {
    if (!archive) return NullHandle();
    return JobStatus([&] {
        return archive->archive.Extract(Strings(entries, count), folder ? folder : "", OptionsOf(options));
    });
}

vm_status vm_archive_test(vm_archive* archive, const char* const* entries, size_t count,
                          const vm_job_options* options) {
    if (!archive) return NullHandle();
    return JobStatus([&] { return archive->archive.Test(Strings(entries, count), OptionsOf(options)); });
}

vm_status vm_archive_delete(vm_archive* archive, const char* const* entries, size_t count,
                            const vm_job_options* options) {
    if (!archive) return NullHandle();
    return JobStatus([&] { return archive->archive.Delete(Strings(entries, count), OptionsOf(options)); });
}

}  // extern "C"
