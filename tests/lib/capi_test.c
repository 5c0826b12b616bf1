/* The C interface from C: statuses, the list, a reader, a job's question. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "velmora/velmora.h"

static int failures = 0;
#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            fprintf(stderr, "%s:%d: failed: %s (%s)\n", __FILE__, __LINE__, #cond, vm_last_error()); \
            ++failures;                                                      \
        }                                                                    \
    } while (0)

static int questions = 0;
static int say_no(void* user, const char* subject) {
    (void)user;
    ++questions;
    CHECK(strcmp(subject, "c.las") == 0);
    return 0;
}

/* The items a job told of, and after how many it is to end (0: never). */
static int items = 0, end_after = 0;
static vm_status first_status = VM_FAILED;
static int item_done(void* user, const vm_item_report* report) {
    (void)user;
    if (++items == 1) first_status = report->status;
    CHECK(report->index == (size_t)(items - 1) && report->count == 2);
    CHECK(report->status == VM_OK ? report->message[0] == '\0' : strstr(report->message, report->name) != NULL);
    return end_after != 0 && items >= end_after;
}

/* argv: a LAS file named c.las, its point count, a folder to work in. */
int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const char* las = argv[1];
    const unsigned long long points = strtoull(argv[2], NULL, 10);
    char archive_path[4096];
    snprintf(archive_path, sizeof archive_path, "%s/c.vmra", argv[3]);

    vm_archive* archive = NULL;
    CHECK(vm_archive_open(NULL, &archive) == VM_INVALID_ARGUMENT);
    CHECK(vm_archive_open(archive_path, &archive) == VM_NOT_FOUND && archive == NULL);
    CHECK(strstr(vm_last_error(), "c.vmra") != NULL);
    CHECK(vm_archive_open(las, &archive) == VM_NOT_AN_ARCHIVE && archive == NULL);

    const char* files[] = {las};
    CHECK(vm_compress(files, 1, archive_path, NULL) == VM_OK);
    CHECK(vm_archive_open(archive_path, &archive) == VM_OK);
    CHECK(vm_archive_entry_count(archive) == 1);
    vm_entry_info info;
    CHECK(vm_archive_entry(archive, 1, &info) == VM_INVALID_ARGUMENT);
    CHECK(vm_archive_entry(archive, 0, &info) == VM_OK);
    CHECK(strcmp(info.name, "c.las") == 0);
    CHECK(info.point_count == points && info.has_checksum && info.header_read);

    const char* unknown[] = {"no_such_field"};
    vm_reader* reader = NULL;
    CHECK(vm_reader_open(archive, "c.las", unknown, 1, 0, 0, &reader) == VM_INVALID_ARGUMENT && reader == NULL);
    CHECK(vm_reader_open(archive, "d.las", NULL, 0, 0, 0, &reader) == VM_NOT_FOUND && reader == NULL);

    const char* xyz[] = {"x", "y", "z"};
    CHECK(vm_reader_open(archive, "c.las", xyz, 3, 1000, 1, &reader) == VM_OK);
    CHECK(vm_reader_field_count(reader) == 3);
    vm_field_info field;
    CHECK(vm_reader_field(reader, 2, &field) == VM_OK && strcmp(field.name, "z") == 0 && field.type == VM_F64);
    size_t n = 0;
    unsigned long long total = 0;
    int outside = 0;
    vm_status status;
    while ((status = vm_reader_next(reader, &n)) == VM_OK && n > 0) {
        const double* x = (const double*)vm_reader_column(reader, 0);
        CHECK(n <= 1000);
        for (size_t i = 0; i < n; ++i) outside += x[i] < info.minimum[0] - 1e-6 || x[i] > info.maximum[0] + 1e-6;
        total += n;
    }
    CHECK(status == VM_OK);
    CHECK(total == points);
    CHECK(outside == 0);
    CHECK(vm_reader_column(reader, 3) == NULL);
    vm_reader_close(reader);

    vm_job_options options = {0};
    options.confirm_replace = say_no;
    CHECK(vm_archive_add(archive, files, 1, &options) == VM_REFUSED);
    CHECK(questions == 1);
    CHECK(vm_archive_test(archive, NULL, 0, NULL) == VM_OK);

    /* Each item is told of; an answer to end stops the job after it, so
     * the missing entry after c.las is never tried. */
    const char* two[] = {"c.las", "d.las"};
    options = (vm_job_options){0};
    options.item_finished = item_done;
    CHECK(vm_archive_test(archive, two, 2, &options) == VM_NOT_FOUND);
    CHECK(items == 2 && first_status == VM_OK);
    items = 0;
    end_after = 1;
    CHECK(vm_archive_test(archive, two, 2, &options) == VM_STOPPED);
    CHECK(items == 1 && first_status == VM_OK);
    vm_archive_close(archive);

    if (failures == 0) printf("C interface: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
