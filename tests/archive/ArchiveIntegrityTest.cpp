#include <gtest/gtest.h>

#include <cstring>

#include "ArchiveTestSupport.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "jobs/core/ArchiveJob.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasMessages.h"

using archtest::Bytes;
using archtest::EntryNames;
using archtest::FolderContents;
using archtest::GenerateLas;
using archtest::GetU32;
using archtest::PutU32;
using archtest::RecordAt;
using testsupport::MessageOf;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Extracts everything without asking: replaces nothing in the archive,
// overwrites what the folder holds, goes on after every item.
struct QuietHost : IJobHost {
    bool ConfirmReplace(const JobItem&) override { return false; }
    bool ConfirmOverwrite(const JobItem&, const std::string&) override { return true; }
    bool ItemFinished(const ItemResult&) override { return true; }
};

uint64_t ChecksumOfFile(const std::string& path) {
    const Bytes bytes = ReadAll(path);
    return CLasDigest::Of(bytes.data(), bytes.size());
}

// The spare bytes of every record set to zero: the archive as a writer
// without checksums leaves it.
Bytes WithoutChecksums(Bytes image) {
    const int32_t n = archtest::CountOf(image);
    for (int32_t i = 0; i < n; ++i) {
        uint8_t* name = image.data() + RecordAt(image, static_cast<std::size_t>(i)) + 12;
        const std::size_t length = strnlen(reinterpret_cast<const char*>(name), 256);
        std::fill(name + std::min<std::size_t>(length, 255), name + 256, 0);
    }
    return image;
}

TEST(ChecksumRecord, LivesAfterTheNameAndIsBoundToIt) {
    EntryRecord r;
    r.SetName("survey.las");
    EXPECT_FALSE(r.Checksum().has_value()) << "a plain name carries no checksum";
    ASSERT_TRUE(r.SetChecksum(0x0123456789ABCDEFull));
    EXPECT_EQ(r.Name(), "survey.las") << "other readers still read the name alone";
    EXPECT_EQ(r.Checksum(), 0x0123456789ABCDEFull);
    EXPECT_EQ(std::memcmp(r.name + 11, "VMck", 4), 0);

    EXPECT_EQ(r.ChecksumStatus(), EntryRecord::ChecksumState::Present);
    using State = EntryRecord::ChecksumState;
    // Under another name of the same length, a record is damage.
    EntryRecord moved = r;
    std::memcpy(moved.name, "SURVEY.las", 10);
    EXPECT_EQ(moved.ChecksumStatus(), State::Damaged);
    EXPECT_FALSE(moved.Checksum().has_value());
    // So is one any byte of which after its tag was changed; without its tag
    // it is no record at all.
    for (std::size_t at = 11; at < 11 + EntryRecord::kChecksumBytes; ++at) {
        EntryRecord bad = r;
        bad.name[at] ^= 0x10;
        EXPECT_EQ(bad.ChecksumStatus(), at < 15 ? State::None : State::Damaged) << at;
        EXPECT_FALSE(bad.Checksum().has_value()) << at;
    }
    // A sound record of a version or kind not known here is none to check.
    for (const std::size_t at : {std::size_t{15}, std::size_t{16}}) {
        EntryRecord later = r;
        later.name[at] = 2;
        le::StoreU32(later.name + 25, static_cast<uint32_t>(CLasDigest::Of(later.name, 25)));
        EXPECT_EQ(later.ChecksumStatus(), State::None) << at;
    }
    // Whatever another writer left after a name is not mistaken for one.
    EntryRecord leftovers;
    leftovers.SetName("a.las");
    for (std::size_t i = 6; i < 256; ++i) leftovers.name[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(leftovers.ChecksumStatus(), State::None);

    // The longest names leave no room.
    EntryRecord longest;
    longest.SetName(std::string(EntryRecord::kMaxNameWithChecksum, 'n'));
    EXPECT_TRUE(longest.SetChecksum(7));
    EXPECT_EQ(longest.Checksum(), 7u);
    EntryRecord tooLong;
    tooLong.SetName(std::string(EntryRecord::kMaxNameWithChecksum + 1, 'n'));
    EXPECT_FALSE(tooLong.SetChecksum(7));
    EXPECT_FALSE(tooLong.Checksum().has_value());
}

class Integrity : public ::testing::Test {
protected:
    void SetUp() override {
        las = {GenerateLas(dir, "raw.las", 600, 1, 1), GenerateLas(dir, "coded.las", 3000, 3, 2),
               GenerateLas(dir, "zero.las", 1500, 0, 3)};
        VMRAFile archive;
        for (const auto& p : las) archive.AddLasFile(p, vmra);
        good = ReadAll(vmra);
    }
    TempDir dir;
    std::vector<std::string> las;
    std::string vmra = dir.File("x.vmra");
    Bytes good;
};

TEST_F(Integrity, EveryEntryWrittenCarriesTheChecksumOfItsLasFile) {
    VMRAFile archive;
    const auto records = archive.ReadDirectoryOf(vmra);
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].Checksum(), ChecksumOfFile(las[i])) << las[i];
    }
    const auto infos = archive.ListEntries(vmra);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_EQ(infos[1].checksum, EntryRecord::ChecksumState::Present);
    // Deleting and replacing keep each record with its entry.
    archive.DeleteEntry(vmra, "raw.las");
    archive.AddLasFile(las[1], vmra);
    const auto after = archive.ReadDirectoryOf(vmra);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].Checksum(), ChecksumOfFile(las[2]));
    EXPECT_EQ(after[1].Checksum(), ChecksumOfFile(las[1]));

    // A name of 254 characters has no room for one and still works.
    const std::string longName = std::string(250, 'x') + ".las";
    std::filesystem::copy_file(las[0], dir.File(longName));
    archive.AddLasFile(dir.File(longName), vmra);
    EXPECT_FALSE(archive.ReadDirectoryOf(vmra).back().Checksum().has_value());
    TempDir out;
    archive.ExtractEntry(vmra, longName, out.Path().string());
    EXPECT_EQ(ReadAll(out.File(longName)), ReadAll(las[0]));
    EXPECT_FALSE(archive.TestEntry(vmra, longName));
}

TEST_F(Integrity, ArchivesWithoutChecksumsStillExtractAndTestAsUnverified) {
    WriteAll(vmra, WithoutChecksums(good));
    VMRAFile archive;
    TempDir out;
    for (const auto& p : las) {
        const std::string name = FileNamePart(p);
        archive.ExtractEntry(vmra, name, out.Path().string());
        EXPECT_EQ(ReadAll(out.File(name)), ReadAll(p));
        EXPECT_FALSE(archive.TestEntry(vmra, name));
    }
    WriteAll(vmra, good);
    EXPECT_TRUE(archive.TestEntry(vmra, "coded.las"));
}

// One flipped byte anywhere in an entry's data: an extraction either refuses
// or gives the very bytes that went in, never others.
TEST_F(Integrity, FlippedBytesNeverComeOutAsWrongBytes) {
    VMRAFile reader;
    const auto records = reader.ReadDirectoryOf(vmra);
    int refused = 0;
    int silentWithoutChecksums = 0;
    for (std::size_t e = 0; e < records.size(); ++e) {
        const std::size_t begin = records[e].dataOffset;
        const std::size_t end = begin + records[e].storedSize;
        const std::string name = records[e].Name();
        for (std::size_t at = begin; at < end; at += (at < begin + 240 ? 13 : 331)) {
            for (const bool checksums : {true, false}) {
                Bytes bad = checksums ? good : WithoutChecksums(good);
                bad[at] ^= 0x24;
                WriteAll(vmra, bad);
                TempDir out;
                VMRAFile archive;
                const std::string message = MessageOf([&] { archive.ExtractEntry(vmra, name, out.Path().string()); });
                if (!message.empty()) {
                    EXPECT_TRUE(FolderContents(out.Path().string()).empty()) << name << " byte " << at;
                    if (checksums) ++refused;
                    continue;
                }
                const bool same = ReadAll(out.File(name)) == ReadAll(las[e]);
                if (checksums) {
                    EXPECT_TRUE(same) << name << ": byte " << at << " flipped came out as wrong bytes";
                } else if (!same) {
                    ++silentWithoutChecksums;
                }
            }
        }
    }
    EXPECT_GT(refused, 0);
    // Without checksums some flips do come out wrong: what the sweep sees is
    // the checksum's doing.
    EXPECT_GT(silentWithoutChecksums, 0);

    // The other entries of an archive with one damaged entry still come back.
    Bytes bad = good;
    bad[records[1].dataOffset + 600] ^= 0x24;
    WriteAll(vmra, bad);
    QuietHost host;
    CArchiveJob job(host);
    TempDir out;
    const JobSummary s = job.Extract(vmra, {}, out.Path().string());
    ASSERT_EQ(s.items.size(), 3u);
    EXPECT_EQ(s.items[1].outcome, ItemOutcome::Damaged);
    EXPECT_EQ(FolderContents(out.Path().string()), (std::vector<std::string>{"raw.las", "zero.las"}));
    const JobSummary tested = job.Test(vmra, {});
    ASSERT_EQ(tested.items.size(), 3u);
    EXPECT_EQ(tested.items[0].outcome, ItemOutcome::Passed);
    EXPECT_EQ(tested.items[1].outcome, ItemOutcome::Damaged);
    EXPECT_FALSE(tested.AllSucceeded());
}

TEST_F(Integrity, ADirectoryThatDoesNotAccountForTheFileIsDamage) {
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes cut(good.begin(), good.end() - 272);
    Bytes lowered = good;
    PutU32(lowered, lowered.size() - 4, 2);
    Bytes zeroCount = good;
    PutU32(zeroCount, zeroCount.size() - 4, 0);
    for (const Bytes& image : {trailing, cut, lowered, zeroCount}) {
        WriteAll(vmra, image);
        VMRAFile archive;
        EXPECT_EQ(MessageOf([&] { archive.ReadDirectoryOf(vmra); }), archmsg::kCannotReadHeaders.text)
            << image.size();
    }
    // The one directory without entries that holds: magic number and count.
    WriteAll(vmra, {0x1D, 0x2C, 0x3B, 0x4A, 0, 0, 0, 0});
    VMRAFile archive;
    EXPECT_TRUE(archive.ReadDirectoryOf(vmra).empty());
}

TEST_F(Integrity, WhatCannotComeBackIsRefusedBeforeAnythingIsWritten) {
    // A LAS file whose signature is not "LASF".
    for (const char first : {'X', 'V', 'O', 'l'}) {
        Bytes bytes = ReadAll(las[1]);
        bytes[0] = static_cast<uint8_t>(first);
        WriteAll(dir.File("odd.las"), bytes);
        VMRAFile archive;
        bool canContinue = false;
        try {
            archive.AddLasFile(dir.File("odd.las"), vmra);
        } catch (const CLasException& e) {
            EXPECT_STREQ(e.Message(), lasmsg::kSignature.text);
            canContinue = e.canContinue;
        }
        EXPECT_TRUE(canContinue) << first;
        EXPECT_EQ(ReadAll(vmra), good);
    }

    // An entry named like the archive it is read from: an archive's name
    // is never a LAS file's, and one that is (the library takes any path)
    // is still not overwritten.
    Bytes evil = good;
    archtest::SetEntryName(evil, 1, "x.vmra");
    WriteAll(vmra, evil);
    VMRAFile archive;
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(vmra, "x.vmra", dir.Path().string()); }),
              archmsg::kNameNotLas.text);
    archtest::SetEntryName(evil, 1, "x.las");
    const std::string odd = dir.File("x.las");
    WriteAll(odd, evil);
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(odd, "x.las", dir.Path().string()); }),
              archmsg::kOutputIsArchive.text);
    EXPECT_EQ(ReadAll(odd), evil);
    // Also through a link to it.
    TempDir other;
    std::filesystem::create_symlink(odd, other.File("x.las"));
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(odd, "x.las", other.Path().string()); }),
              archmsg::kOutputIsArchive.text);
    EXPECT_EQ(ReadAll(odd), evil);
}

TEST_F(Integrity, ALengthThatIsNotWhatWentInIsDamageEvenWithoutAChecksum) {
    for (const bool checksums : {true, false}) {
        Bytes image = checksums ? good : WithoutChecksums(good);
        const std::size_t size = RecordAt(image, 1) + 8;
        PutU32(image, size, GetU32(image, size) + 1);
        WriteAll(vmra, image);
        VMRAFile archive;
        TempDir out;
        EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(vmra, "coded.las", out.Path().string()); }),
                  archmsg::kLengthMismatch.text);
        EXPECT_TRUE(FolderContents(out.Path().string()).empty());
        EXPECT_EQ(MessageOf([&] { archive.TestEntry(vmra, "coded.las"); }), archmsg::kLengthMismatch.text);
    }
}

TEST_F(Integrity, NamesThatCouldLeaveTheFolderAreRefusedByAnExtractionButNotByATest) {
    Bytes image = good;
    archtest::SetEntryName(image, 2, "../zero.las");
    WriteAll(vmra, image);
    QuietHost host;
    CArchiveJob job(host);
    TempDir out;
    const JobSummary extracted = job.Extract(vmra, {}, out.Path().string());
    ASSERT_EQ(extracted.items.size(), 3u);
    EXPECT_EQ(extracted.items[2].outcome, ItemOutcome::Refused);
    EXPECT_EQ(extracted.items[2].Describe(), std::string("../zero.las: ") + archmsg::kUnsafeEntryName.text);
    EXPECT_EQ(FolderContents(out.Path().string()), (std::vector<std::string>{"coded.las", "raw.las"}));
    // A test writes nothing, so it checks every entry, that one included.
    const JobSummary tested = job.Test(vmra, {});
    ASSERT_EQ(tested.items.size(), 3u);
    EXPECT_EQ(tested.items[2].item.name, "../zero.las");
    EXPECT_TRUE(tested.AllSucceeded());
}

}  // namespace

