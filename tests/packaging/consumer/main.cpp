// Lists an archive's entries and reads the scaled coordinates of the first
// entry's points through libvelmora's C++ interface. main.c does the same
// through the C interface; the packaging check holds both to the LAS file.
#include <velmora/velmora.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
        return 2;
    }
    try {
        std::printf("version %s\n", velmora::Version().c_str());
        const velmora::Archive archive = velmora::Archive::Open(argv[1]);
        const std::vector<velmora::EntryInfo> entries = archive.Entries();
        std::printf("entries %zu\n", entries.size());
        for (const velmora::EntryInfo& entry : entries) {
            std::printf("entry %s %llu\n", entry.name.c_str(), static_cast<unsigned long long>(entry.pointCount));
        }
        if (entries.empty()) return 0;

        velmora::PointReader reader = archive.Points(entries[0].name, {"x", "y", "z"});
        if (reader.Fields().size() != 3) {
            std::fprintf(stderr, "asked for 3 fields, the reader gives %zu\n", reader.Fields().size());
            return 1;
        }
        for (const velmora::FieldInfo& field : reader.Fields()) {
            if (field.type != velmora::FieldType::F64 || field.size != sizeof(double)) {
                std::fprintf(stderr, "field %s is not a double\n", field.name.c_str());
                return 1;
            }
        }

        double first[3] = {0, 0, 0};
        double low[3], high[3];
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::numeric_limits<double>::infinity();
            high[axis] = -std::numeric_limits<double>::infinity();
        }
        std::uint64_t count = 0;
        velmora::PointChunk chunk;
        while (reader.Next(chunk)) {
            if (chunk.first != count) {
                std::fprintf(stderr, "a chunk starts at point %llu after %llu points\n",
                             static_cast<unsigned long long>(chunk.first), static_cast<unsigned long long>(count));
                return 1;
            }
            for (std::size_t i = 0; i < chunk.count; ++i) {
                for (int axis = 0; axis < 3; ++axis) {
                    double value;
                    std::memcpy(&value, chunk.columns[axis].data.data() + i * sizeof value, sizeof value);
                    if (count == 0 && i == 0) first[axis] = value;
                    if (value < low[axis]) low[axis] = value;
                    if (value > high[axis]) high[axis] = value;
                }
            }
            count += chunk.count;
        }
        std::printf("read %s %llu\n", entries[0].name.c_str(), static_cast<unsigned long long>(count));
        if (count == 0) return 0;
        std::printf("first %.6f %.6f %.6f\n", first[0], first[1], first[2]);
        std::printf("min %.6f %.6f %.6f\n", low[0], low[1], low[2]);
        std::printf("max %.6f %.6f %.6f\n", high[0], high[1], high[2]);
        return 0;
    } catch (const velmora::Error& error) {
        std::fprintf(stderr, "velmora error %d: %s\n", static_cast<int>(error.code()), error.what());
        return 1;
    }
}
