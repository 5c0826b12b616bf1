/* Lists an archive's entries and reads the scaled coordinates of the first
 * entry's points through libvelmora's C interface alone, printing exactly
 * what main.cpp prints. */
#include <velmora/velmora.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

static int failed(const char* what, vm_status status) {
    fprintf(stderr, "%s failed (%d): %s\n", what, (int)status, vm_last_error());
    return 1;
}

int main(int argc, char** argv) {
    static const char* const fields[3] = {"x", "y", "z"};
    vm_archive* archive = NULL;
    vm_reader* reader = NULL;
    vm_entry_info entry;
    vm_field_info field;
    vm_status status;
    size_t entries, index, chunk, i;
    unsigned long long count = 0;
    double first[3] = {0, 0, 0}, low[3], high[3];
    int axis;

    if (argc != 2) {
        fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
        return 2;
    }
    printf("version %s\n", vm_version());
    status = vm_archive_open(argv[1], &archive);
    if (status != VM_OK) return failed("vm_archive_open", status);

    entries = vm_archive_entry_count(archive);
    printf("entries %lu\n", (unsigned long)entries);
    for (index = 0; index < entries; ++index) {
        status = vm_archive_entry(archive, index, &entry);
        if (status != VM_OK) return failed("vm_archive_entry", status);
        printf("entry %s %llu\n", entry.name, (unsigned long long)entry.point_count);
    }
    if (entries == 0) {
        vm_archive_close(archive);
        return 0;
    }

    status = vm_archive_entry(archive, 0, &entry);
    if (status != VM_OK) return failed("vm_archive_entry", status);
    status = vm_reader_open(archive, entry.name, fields, 3, 0, 0, &reader);
    if (status != VM_OK) return failed("vm_reader_open", status);
    if (vm_reader_field_count(reader) != 3) {
        fprintf(stderr, "asked for 3 fields, the reader gives %lu\n", (unsigned long)vm_reader_field_count(reader));
        return 1;
    }
    for (axis = 0; axis < 3; ++axis) {
        status = vm_reader_field(reader, (size_t)axis, &field);
        if (status != VM_OK) return failed("vm_reader_field", status);
        if (field.type != VM_F64 || field.size != sizeof(double)) {
            fprintf(stderr, "field %s is not a double\n", field.name);
            return 1;
        }
        low[axis] = HUGE_VAL;
        high[axis] = -HUGE_VAL;
    }

    for (;;) {
        status = vm_reader_next(reader, &chunk);
        if (status != VM_OK) return failed("vm_reader_next", status);
        if (chunk == 0) break;
        for (axis = 0; axis < 3; ++axis) {
            const unsigned char* column = (const unsigned char*)vm_reader_column(reader, (size_t)axis);
            if (column == NULL) {
                fprintf(stderr, "no column %d\n", axis);
                return 1;
            }
            for (i = 0; i < chunk; ++i) {
                double value;
                memcpy(&value, column + i * sizeof value, sizeof value);
                if (count == 0 && i == 0) first[axis] = value;
                if (value < low[axis]) low[axis] = value;
                if (value > high[axis]) high[axis] = value;
            }
        }
        count += chunk;
    }
    printf("read %s %llu\n", entry.name, count);
    if (count > 0) {
        printf("first %.6f %.6f %.6f\n", first[0], first[1], first[2]);
        printf("min %.6f %.6f %.6f\n", low[0], low[1], low[2]);
        printf("max %.6f %.6f %.6f\n", high[0], high[1], high[2]);
    }
    vm_reader_close(reader);
    vm_archive_close(archive);
    return 0;
}
