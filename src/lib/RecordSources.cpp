#include "lib/RecordSources.h"

#include <algorithm>

#include "archive/ArchiveMessages.h"
#include "archive/ArchivePoints.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

namespace velmora::detail {

namespace {

class EntrySource final : public RecordSource {
public:
    EntrySource(const std::string& archivePath, const std::string& entryName, const std::vector<FieldRole>& roles,
                int threads, int64_t index)
        : points(archivePath, entryName, roles, threads, index) {}
    const std::vector<uint8_t>& Head() const override { return points.Head(); }
    const LasFileLayout& Layout() const override { return points.Layout(); }
    bool Next(std::vector<uint8_t>& records, std::size_t& count) override { return points.Next(records, count); }

private:
    CArchivePoints points;
};

class LasSource final : public RecordSource {
public:
    LasSource(const std::string& path, LasFacts& facts) {
        OpenLasFile(file, path);
        facts = ReadLasFileFacts(file, head);
        layout = facts.layout;
        left = layout.pointCount;
        if (!file.Seek(layout.offsetToPoints)) throw CLasException(lasmsg::kReadPoints, true, file.LastError());
    }
    const std::vector<uint8_t>& Head() const override { return head; }
    const LasFileLayout& Layout() const override { return layout; }

    bool Next(std::vector<uint8_t>& records, std::size_t& count) override {
        count = 0;
        if (left == 0) return false;
        // The header's count was checked against the file's length, but the
        // file may have been cut since: only what is read is handed out.
        const std::size_t length = layout.recordLength;
        const std::size_t most = std::max<std::size_t>(1, kLasSliceBytes / length);
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(left, most));
        records.resize(n * length);
        if (!file.ReadExact(records.data(), records.size())) {
            if (file.LastError() != 0) throw CLasException(lasmsg::kReadPoints, true, file.LastError());
            throw CLasException(lasmsg::kTruncated, true);
        }
        left -= n;
        count = n;
        return true;
    }

private:
    CFile file;
    std::vector<uint8_t> head;
    LasFileLayout layout;
    uint64_t left = 0;
};

}  // namespace

void OpenLasFile(CFile& file, const std::string& path) {
    if (IsSpecialFile(path)) throw CLasException(archmsg::kNotRegularLas, true);
    if (!file.Open(path, "rb")) throw CLasException(lasmsg::kReadOpen, true, file.LastError());
}

std::unique_ptr<RecordSource> EntryRecords(const std::string& archivePath, const std::string& entryName,
                                           const std::vector<FieldRole>& roles, int threads, int64_t index) {
    return std::make_unique<EntrySource>(archivePath, entryName, roles, threads, index);
}

std::unique_ptr<RecordSource> LasRecords(const std::string& path, LasFacts& facts) {
    return std::make_unique<LasSource>(path, facts);
}

}  // namespace velmora::detail
