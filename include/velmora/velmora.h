#ifndef VELMORA_VELMORA_H
#define VELMORA_VELMORA_H

/*
 * libvelmora's C interface: LAS point clouds in ".vmra" archives, for
 * programs and languages that bind C (R, Rust, C#, ...).
 *
 * Handles are opaque. No function throws or exits; each returns a status
 * (VM_OK or the kind of failure) and, on failure, leaves a message, the one
 * the command line prints, for vm_last_error() on the same thread. Strings
 * are UTF-8 and NUL-terminated. A handle may be used by one thread at a
 * time; separate handles may be used at the same time.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VELMORA_BUILDING_LIBRARY)
#define VM_API __attribute__((visibility("default")))
#else
#define VM_API
#endif

/* The kind of failure. Decide by the status, never by the message. */
typedef enum vm_status {
    VM_OK = 0,
    VM_INVALID_ARGUMENT = 1, /* a null handle, an unknown field, an index out of range */
    VM_NOT_FOUND = 2,        /* no such archive, LAS file or entry */
    VM_NOT_AN_ARCHIVE = 3,   /* the file is not a Velmora archive */
    VM_DAMAGED = 4,          /* stored data cannot be given back as it went in */
    VM_REFUSED = 5,          /* an input that cannot be stored or given back as it is */
    VM_NEWER = 6,            /* made by a newer version of Velmora */
    VM_OUTPUT = 7,           /* the machine's reading or writing failed (disk full, no rights) */
    VM_STOPPED = 8,          /* the caller cancelled */
    VM_BUSY = 9,             /* another program is changing the archive */
    VM_FAILED = 10           /* anything else */
} vm_status;

/* How a column's values are stored (little-endian); VM_BYTES: `size`
 * bytes a point. */
typedef enum vm_type {
    VM_U8, VM_I8, VM_U16, VM_I16, VM_U32, VM_I32, VM_U64, VM_I64, VM_F32, VM_F64, VM_BYTES
} vm_type;

typedef struct vm_archive vm_archive;
typedef struct vm_reader vm_reader;

/* The library's version, "MAJOR.MINOR.PATCH". */
VM_API const char* vm_version(void);

/* The message of the last failure on this thread ("" when none). Valid
 * until the next call of this library on the thread. */
VM_API const char* vm_last_error(void);

/* Opens the archive at path and reads its list of entries. *out is set
 * only on success; close it with vm_archive_close. */
VM_API vm_status vm_archive_open(const char* path, vm_archive** out);

/* Closes the handle (null is allowed). Readers opened from it must be
 * closed first. */
VM_API void vm_archive_close(vm_archive* archive);

/* Reads the list of entries again (after vm_archive_add, vm_archive_delete,
 * or another program's changes). */
VM_API vm_status vm_archive_refresh(vm_archive* archive);

/* What the archive and an entry's stored header say; nothing is decoded.
 * Strings stay valid until the handle is refreshed or closed. */
typedef struct vm_entry_info {
    const char* name;
    uint64_t las_size;        /* bytes of the LAS file it gives back */
    uint64_t stored_size;     /* bytes it takes in the archive */
    int header_read;          /* 0: the stored header is unreadable, the fields below are 0 */
    int version_major;
    int version_minor;
    int point_format;
    uint32_t record_length;
    uint64_t point_count;
    double minimum[3];        /* x, y, z in real units */
    double maximum[3];
    double scale[3];
    double offset[3];
    int has_checksum;
    int extended;             /* kept in the extended entry kind */
} vm_entry_info;

/* Number of entries in the list read by open or refresh. */
VM_API size_t vm_archive_entry_count(const vm_archive* archive);
/* Entry index (0 <= index < count) into *info. */
VM_API vm_status vm_archive_entry(const vm_archive* archive, size_t index, vm_entry_info* info);

/* A field of the points. name stays valid while the reader is open. */
typedef struct vm_field_info {
    const char* name; /* "X", "intensity", "gps_time", "x" (scaled), an extra-byte field's name */
    vm_type type;
    size_t size;      /* bytes per point */
} vm_field_info;

/* Opens a reader of the entry's points. fields: field_count names to read
 * (every field but the scaled x, y, z when field_count is 0). chunk_points:
 * most points per chunk (0 for 65,536, a few megabytes). threads: engine
 * threads (0 for one per core). The archive stays locked against other
 * programs' changes until the reader is closed. */
VM_API vm_status vm_reader_open(vm_archive* archive, const char* entry_name, const char* const* fields,
                                size_t field_count, size_t chunk_points, int threads, vm_reader** out);
VM_API void vm_reader_close(vm_reader* reader);
VM_API uint64_t vm_reader_point_count(const vm_reader* reader);
VM_API size_t vm_reader_field_count(const vm_reader* reader);
VM_API vm_status vm_reader_field(const vm_reader* reader, size_t index, vm_field_info* info);

/* Decodes the next chunk; *count is its number of points, 0 at the end.
 * When every field is read, the end is reported only after the entry's
 * checksum held (VM_DAMAGED otherwise). */
VM_API vm_status vm_reader_next(vm_reader* reader, size_t* count);
/* The chunk's values of field index: count * size bytes, valid until the
 * next vm_reader_next or vm_reader_close. Null for a bad index. */
VM_API const void* vm_reader_column(const vm_reader* reader, size_t index);

/* Called as a job progresses: items done and in all, the share of the
 * current item done (0..1). Return nonzero to stop the job; the archive is
 * left as it was before the item in hand. */
typedef int (*vm_progress_fn)(void* user, size_t done, size_t total, double fraction);
/* A question about subject (an entry name to replace, a file to
 * overwrite): return nonzero for yes. */
typedef int (*vm_confirm_fn)(void* user, const char* subject);

/* What came of one item of a job. The strings live until the callback
 * returns. */
typedef struct vm_item_report {
    const char* name;       /* the LAS path or the entry name */
    size_t index;           /* of the item in the job, from 0 */
    size_t count;           /* items in the job */
    vm_status status;       /* VM_OK when the item did what was asked */
    const char* message;    /* as the command line prints it; "" when it went well */
    uint64_t las_bytes;     /* length of the item's LAS file; 0 when unknown */
    uint64_t stored_bytes;  /* what an added entry takes in the archive */
} vm_item_report;
/* Called after each item, whatever came of it. Return nonzero to end the
 * job after this item: the job then returns VM_STOPPED unless an item
 * failed. */
typedef int (*vm_item_fn)(void* user, const vm_item_report* report);

typedef struct vm_job_options {
    vm_progress_fn progress;          /* may be null */
    vm_confirm_fn confirm_replace;    /* null: never replace */
    vm_confirm_fn confirm_overwrite;  /* null: never overwrite */
    void* user;                       /* passed to the callbacks */
    int threads;                      /* engine threads, 0 for one per core */
    int extended_for_all;             /* nonzero: every file in the extended entry kind */
    vm_item_fn item_finished;         /* may be null */
} vm_job_options;

/* The jobs. options may be null. Each returns VM_OK when every item did
 * what was asked; otherwise the status of the first item that did not (a
 * declined question is VM_REFUSED) and vm_last_error() tells, one line per
 * such item, what went wrong. */

/* Compresses count LAS files into the archive at archive_path (created
 * when missing). */
VM_API vm_status vm_compress(const char* const* las_files, size_t count, const char* archive_path,
                             const vm_job_options* options);
VM_API vm_status vm_archive_add(vm_archive* archive, const char* const* las_files, size_t count,
                                const vm_job_options* options);
/* Every entry when count is 0; folder null or "" for the current folder. */
VM_API vm_status vm_archive_extract(vm_archive* archive, const char* const* entries, size_t count,
                                    const char* folder, const vm_job_options* options);
/* Decodes and checks the entries (every entry when count is 0). */
VM_API vm_status vm_archive_test(vm_archive* archive, const char* const* entries, size_t count,
                                 const vm_job_options* options);
VM_API vm_status vm_archive_delete(vm_archive* archive, const char* const* entries, size_t count,
                                   const vm_job_options* options);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_VELMORA_H */
