// The checksum record's bytes are part of what archives on disk hold: a change
// made alike to the writer and the reader must still be caught.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"

using archtest::Bytes;
using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

const std::string kFixtures = VELMORA_ARCHIVE_FIXTURES_DIR;

// fixtures/checksum.vmra holds golden.las (12 points of format 3, one VLR);
// fixtures/README.md says how both were made.
constexpr uint64_t kGoldenChecksum = 0xC3D83CFC6D9281C6ull;

TEST(ChecksumRecordFormat, AnArchiveWrittenEarlierStillCarriesItsChecksum) {
    const std::string golden = kFixtures + "/checksum.vmra";
    VMRAFile archive;
    const auto records = archive.ReadDirectoryOf(golden);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Name(), "golden.las");
    EXPECT_EQ(records[0].ChecksumStatus(), EntryRecord::ChecksumState::Present);
    EXPECT_EQ(records[0].Checksum(), kGoldenChecksum);
    EXPECT_TRUE(archive.TestEntry(golden, "golden.las"));
    TempDir out;
    archive.ExtractEntry(golden, "golden.las", out.Path().string());
    const Bytes las = ReadAll(out.File("golden.las"));
    EXPECT_EQ(las.size(), records[0].uncompressedSize);
    EXPECT_EQ(CLasDigest::Of(las.data(), las.size()), kGoldenChecksum);
}

TEST(ChecksumRecordFormat, ANewRecordHasExactlyTheseBytes) {
    EntryRecord r;
    r.SetName("survey.las");
    ASSERT_TRUE(r.SetChecksum(0x0123456789ABCDEFull));
    // Tag, version 1, kind 1 (XXH3-64), the checksum and the check over the
    // name, its terminator and the 14 bytes before the check.
    const uint8_t expected[] = {0x00, 'V',  'M',  'c',  'k',  0x01, 0x01, 0xEF, 0xCD, 0xAB,
                                0x89, 0x67, 0x45, 0x23, 0x01, 0x14, 0x3E, 0x87, 0xB7, 0x00};
    EXPECT_EQ(Bytes(r.name + 10, r.name + 30), Bytes(std::begin(expected), std::end(expected)));
    EXPECT_EQ(Bytes(r.name, r.name + 10), Bytes(std::begin("survey.las"), std::end("survey.las") - 1));
    EXPECT_TRUE(std::all_of(r.name + 29, r.name + EntryRecord::kNameBytes, [](uint8_t b) { return b == 0; }));
}

// 237 bytes of name, its terminator and 18 bytes of record fill the field
// exactly; one byte more leaves no room, and nothing goes past the field.
TEST(ChecksumRecordFormat, TheLongestNameWithAChecksumAndTheFirstWithout) {
    auto fits = std::make_unique<EntryRecord>();
    fits->SetName(std::string(237, 'n'));
    ASSERT_TRUE(fits->SetChecksum(7));
    EXPECT_EQ(fits->Checksum(), 7u);
    EXPECT_EQ(fits->name[237], 0);
    EXPECT_EQ(std::memcmp(fits->name + 238, "VMck", 4), 0);

    auto none = std::make_unique<EntryRecord>();
    none->SetName(std::string(238, 'n'));
    EXPECT_FALSE(none->SetChecksum(7));
    EXPECT_EQ(none->ChecksumStatus(), EntryRecord::ChecksumState::None);
    EXPECT_TRUE(std::all_of(none->name + 238, none->name + 256, [](uint8_t b) { return b == 0; }));

    // The same through real adds: stored, listed, extracted and tested.
    TempDir dir, out;
    const std::string las = archtest::GenerateLas(dir, "source.las", 1200, 1, 4);
    const std::string vmra = dir.File("x.vmra");
    VMRAFile archive;
    for (const std::size_t length : {std::size_t{237}, std::size_t{238}}) {
        const std::string name = std::string(length - 4, 'n') + ".las";
        std::filesystem::copy_file(las, dir.File(name));
        archive.AddLasFile(dir.File(name), vmra);
    }
    const auto records = archive.ReadDirectoryOf(vmra);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].ChecksumStatus(), EntryRecord::ChecksumState::Present);
    EXPECT_EQ(records[1].ChecksumStatus(), EntryRecord::ChecksumState::None);
    const Bytes image = ReadAll(vmra);
    const std::size_t second = archtest::RecordAt(image, 1) + 12;
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<std::ptrdiff_t>(second + 238),
                            image.begin() + static_cast<std::ptrdiff_t>(second + 256),
                            [](uint8_t b) { return b == 0; }));
    for (const auto& r : records) {
        EXPECT_EQ(archive.TestEntry(vmra, r.Name()), r.Name().size() == 237) << r.Name().size();
        archive.ExtractEntry(vmra, r.Name(), out.Path().string());
        EXPECT_EQ(ReadAll(out.File(r.Name())), ReadAll(las)) << r.Name().size();
    }
}

}  // namespace
