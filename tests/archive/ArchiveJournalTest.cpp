// The journal of an archive change: its stored layout, the order of the
// steps that make a change safe, and the checks a journal must pass before
// it may write one byte of the archive beside it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "JournalForge.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::EntryNames;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::string Hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02x", v);
        s += two;
    }
    return s;
}

// The archive's directory and count, as its last bytes say.
Bytes DirectoryOf(const Bytes& archive) {
    const uint32_t n = archtest::GetU32(archive, archive.size() - 4);
    return Bytes(archive.end() - static_cast<std::ptrdiff_t>(n * 268 + 4), archive.end());
}

// Bytes the layout fixes for one set of fields, made once and kept: a
// change made alike in the writer, the reader and the forge shows here.
TEST(JournalLayout, FixedFieldsGiveTheseBytes) {
    journalforge::Fields f;
    f.device = 0x0102030405060708ULL;
    f.inode = 0x1112131415161718ULL;
    f.owner = 1000;
    f.restorePosition = 4;
    f.originalLength = 9;
    f.identityHash = 0xA1A2A3A4A5A6A7A8ULL;
    EXPECT_EQ(Hex(journalforge::Encode(f, {1, 2, 3, 4, 5})),
              "564d52412d4a4e4c020000000000000008070605040302011817161514131211"
              "e80300000000000004000000000000000900000000000000a8a7a6a5a4a3a2a1"
              "0000000000000000000000000000000000000000000000000000000000000000"
              "000000000000000000000000000000000000000000000000d9375e2492d75e1c"
              "0102030405c18392648783b659564d52412d454e44");
    EXPECT_EQ(Hex(journalforge::EncodeCompletion(100, {9, 8, 7, 6})),
              "564d52412d444f4e68000000000000006400000000000000ca154d859b1c1568"
              "87a060b36025d88b");
}

// The archive code writes what the layout says, for an archive small enough
// to be hashed whole and for one whose identity is a sample.
TEST(JournalLayout, TheArchiveCodeWritesTheDocumentedLayout) {
    TempDir dir;
    const std::string vmra = dir.File("x.vmra");
    VMRAFile archive;
    for (const char* n : {"a.las", "b.las"}) {
        archive.AddLasFile(archtest::GenerateLas(dir, n, 1500, 1, n[0]), vmra);
    }
    const std::string big = dir.File("big.vmra");
    WriteAll(big, archtest::Filler((6 << 20) + 777, 3));
    for (const auto& [path, restore] : {std::pair<std::string, int64_t>{vmra, -1}, {big, (5 << 20) + 5}}) {
        const Bytes before = ReadAll(path);
        const int64_t r = restore >= 0 ? restore
                                       : static_cast<int64_t>(before.size() - DirectoryOf(before).size());
        {
            ArchiveHooks hooks;
            CArchiveSession session(path, CArchiveSession::Mode::Update, hooks);
            CArchiveTransaction change(session, r, false);
            const Bytes saved(before.begin() + r, before.end());
            const auto fields = journalforge::FieldsOf(path, static_cast<uint64_t>(r), before.size());
            EXPECT_EQ(ReadAll(session.JournalPath()), journalforge::Encode(fields, saved)) << path;
            const Bytes directory = {1, 0, 0, 0, 9, 9, 9, 9};
            change.AboutToWriteDirectory(r + 10, directory);
            const Bytes journal = ReadAll(session.JournalPath());
            EXPECT_EQ(Bytes(journal.end() - 40, journal.end()), journalforge::EncodeCompletion(r + 10, directory));
            change.RollBack();
        }
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_FALSE(FileExists(path + "-journal"));
    }
}

// The journal gets its name only by a link, which neither replaces what is
// there nor writes through it.
TEST(JournalLayout, IsNeverWrittenOverOrThroughWhatHasItsName) {
    TempDir dir;
    TempDir elsewhere;
    const std::string vmra = dir.File("x.vmra");
    VMRAFile().AddLasFile(archtest::GenerateLas(dir, "a.las", 1500, 1, 1), vmra);
    const Bytes before = ReadAll(vmra);
    const std::string existing = elsewhere.File("existing");
    WriteAll(existing, Bytes(50, 1));
    for (const std::string& target : {elsewhere.File("missing"), existing}) {
        ArchiveHooks hooks;
        CArchiveSession session(vmra, CArchiveSession::Mode::Update, hooks);
        // Planted after the archive was opened and looked at.
        ASSERT_EQ(::symlink(target.c_str(), (vmra + "-journal").c_str()), 0);
        EXPECT_EQ(testsupport::MessageOf([&] { CArchiveTransaction change(session, 4, false); }),
                  archmsg::kJournalWrite.text)
            << target;
        std::remove((vmra + "-journal").c_str());
    }
    EXPECT_FALSE(FileExists(elsewhere.File("missing")));
    EXPECT_EQ(ReadAll(existing), Bytes(50, 1));
    EXPECT_EQ(ReadAll(vmra), before);
    EXPECT_EQ(archtest::FolderContents(dir.Path().string()), (std::vector<std::string>{"a.las", "x.vmra"}));
}

// Reads the steps a change took from the fault plan's trace.
std::vector<std::string> TracedSteps(const std::string& trace) {
    std::vector<std::string> steps;
    std::ifstream in(trace);
    std::string number, action, role;
    // Closing changes no byte that a sync has not already put on the disk.
    while (in >> number >> action >> role) {
        if (action != "close") steps.push_back(action + " " + role);
    }
    return steps;
}

std::ptrdiff_t First(const std::vector<std::string>& steps, const std::string& step, std::size_t from = 0) {
    const auto it = std::find(steps.begin() + static_cast<std::ptrdiff_t>(from), steps.end(), step);
    return it == steps.end() ? -1 : it - steps.begin();
}

// Durability comes from order: the journal is on the disk under its name
// before the archive is touched, the change is complete in the journal
// before the new directory is written, and the journal goes only once the
// archive is on the disk.
TEST(JournalSteps, ComeInTheOrderThatMakesAChangeSafe) {
    TempDir dir;
    const std::string vmra = dir.File("x.vmra");
    const std::string trace = dir.File("trace");
    VMRAFile archive;
    for (const char* n : {"a.las", "b.las"}) {
        archive.AddLasFile(archtest::GenerateLas(dir, n, 1500, 1, n[0]), vmra);
    }
    const std::string c = archtest::GenerateLas(dir, "c.las", 2500, 3, 7);
    TempDir other;
    const std::string newA = archtest::GenerateLas(other, "a.las", 1200, 2, 8);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"add", [&] { archive.AddLasFile(c, vmra); }},
        {"replace", [&] { archive.AddLasFile(newA, vmra); }},
        {"delete", [&] { archive.DeleteEntry(vmra, "b.las"); }},
    };
    for (const auto& [what, change] : changes) {
        std::remove(trace.c_str());
        setenv("VELMORA_FAULT_TRACE", trace.c_str(), 1);
        change();
        unsetenv("VELMORA_FAULT_TRACE");
        const auto steps = TracedSteps(trace);
        const auto synced = First(steps, "sync journal");
        const auto named = First(steps, "link journal");
        const auto folder = First(steps, "sync folder");
        const auto touched = First(steps, "write archive");
        ASSERT_GE(synced, 0) << what;
        EXPECT_LT(synced, named) << what;
        EXPECT_LT(named, folder) << what;
        EXPECT_LT(folder, touched) << what;
        // The completion record, then the directory: the last write of
        // the archive comes after the journal's second sync.
        const auto completed = First(steps, "sync journal", static_cast<std::size_t>(synced) + 1);
        const auto lastWrite = std::find(steps.rbegin(), steps.rend(), "write archive").base() - steps.begin() - 1;
        EXPECT_LT(touched, completed) << what;
        EXPECT_LT(completed, lastWrite) << what;
        ASSERT_GE(steps.size(), 3u) << what;
        EXPECT_EQ(std::vector<std::string>(steps.end() - 3, steps.end()),
                  (std::vector<std::string>{"sync archive", "remove journal", "sync folder"}))
            << what;
    }
}

// A journal beside an archive, as the archive code would have written it for
// an add of one more entry, and ways to spoil it.
class JournalTrust : public ::testing::Test {
protected:
    void SetUp() override {
        VMRAFile archive;
        for (const char* n : {"a.las", "b.las"}) {
            archive.AddLasFile(archtest::GenerateLas(dir, n, 1500, 1, n[0]), vmra);
        }
        before = ReadAll(vmra);
        restore = before.size() - DirectoryOf(before).size();
        fields = journalforge::FieldsOf(vmra, restore, before.size());
    }
    Bytes Journal() const {
        return journalforge::Encode(fields, Bytes(before.begin() + static_cast<std::ptrdiff_t>(restore), before.end()));
    }
    // The archive as an add cut short leaves it: new data over the old
    // directory, no new one.
    Bytes CutShort() const {
        Bytes b(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(restore));
        const Bytes data = archtest::Filler(3000, 5);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
    // Opens the archive as every operation does; the message it fails with.
    std::string Open() {
        VMRAFile opener;
        return testsupport::MessageOf([&] { opener.ListEntries(vmra); });
    }

    TempDir dir;
    std::string vmra = dir.File("x.vmra");
    std::string journal = vmra + "-journal";
    Bytes before;
    uint64_t restore = 0;
    journalforge::Fields fields;
};

TEST_F(JournalTrust, AJournalThatProvesItselfUndoesTheChange) {
    // Cut short, as the change left it, and untouched.
    for (const Bytes& state : {CutShort(), before}) {
        WriteAll(vmra, state);
        WriteAll(journal, Journal());
        std::vector<std::string> notices;
        VMRAFile opener;
        opener.onNotice = [&](const std::string&, const char* text) { notices.push_back(text); };
        EXPECT_NO_THROW(opener.ListEntries(vmra));
        EXPECT_EQ(ReadAll(vmra), before);
        EXPECT_FALSE(FileExists(journal));
        EXPECT_EQ(notices, std::vector<std::string>{archmsg::kRecovered});
    }
}

TEST_F(JournalTrust, EveryFieldIsCheckedBeforeAByteIsWritten) {
    struct Case {
        const char* what;
        std::function<Bytes()> journal;
        const char* message;
    };
    auto with = [&](auto change) {
        return [this, change] {
            journalforge::Fields f = fields;
            change(f);
            return journalforge::Encode(f, Bytes(before.begin() + static_cast<std::ptrdiff_t>(restore), before.end()));
        };
    };
    auto spoiled = [&](std::size_t at) {
        return [this, at] {
            Bytes j = Journal();
            j[at < j.size() ? at : j.size() - 1] ^= 0x40;
            return j;
        };
    };
    const Case cases[] = {
        {"a flipped header byte", spoiled(44), archmsg::kJournalDamaged.text},
        {"a flipped saved byte", spoiled(130), archmsg::kJournalDamaged.text},
        {"a flipped trailer byte", spoiled(100000), archmsg::kJournalDamaged.text},
        {"cut short", [&] { Bytes j = Journal(); j.pop_back(); return j; }, archmsg::kJournalDamaged.text},
        {"another version",
         [&] {
             Bytes j = Journal();
             archtest::PutU32(j, 8, 1);
             return j;
         },
         archmsg::kJournalDamaged.text},
        {"a made archive that had bytes", with([](auto& f) { f.created = true; }), archmsg::kJournalDamaged.text},
        {"another inode", with([](auto& f) { f.inode += 1; }), archmsg::kJournalForeign.text},
        {"another device", with([](auto& f) { f.device += 1; }), archmsg::kJournalForeign.text},
        {"another owner", with([](auto& f) { f.owner += 1; }), archmsg::kJournalForeign.text},
        {"other bytes before the change", with([](auto& f) { f.identityHash ^= 1; }), archmsg::kJournalForeign.text},
        {"a restore position past the end",
         with([&](auto& f) {
             f.restorePosition = before.size() + 3000 + 100;
             f.originalLength = f.restorePosition + before.size() - restore;
             f.identityHash = journalforge::IdentityHash(CutShort(), restore);
         }),
         archmsg::kJournalForeign.text},
    };
    for (const Case& c : cases) {
        WriteAll(vmra, CutShort());
        const Bytes planted = c.journal();
        WriteAll(journal, planted);
        EXPECT_EQ(Open(), c.message) << c.what;
        EXPECT_EQ(ReadAll(vmra), CutShort()) << c.what;
        EXPECT_EQ(ReadAll(journal), planted) << c.what;
    }
}

TEST_F(JournalTrust, AWholeArchiveTheChangeDidNotLeaveIsNotRolledBack) {
    // Another archive with the same first entries, written over this one.
    VMRAFile archive;
    archive.AddLasFile(archtest::GenerateLas(dir, "c.las", 1300, 2, 9), vmra);
    const Bytes other = ReadAll(vmra);
    WriteAll(journal, Journal());
    EXPECT_EQ(Open(), archmsg::kJournalStale.text);
    EXPECT_EQ(ReadAll(vmra), other);
    EXPECT_TRUE(FileExists(journal));
    // Unless the change itself completed it, as its journal says.
    Bytes completed = Journal();
    const Bytes directory = DirectoryOf(other);
    const Bytes done = journalforge::EncodeCompletion(other.size() - directory.size(), directory);
    completed.insert(completed.end(), done.begin(), done.end());
    WriteAll(journal, completed);
    EXPECT_EQ(Open(), "");
    EXPECT_EQ(ReadAll(vmra), before);
    EXPECT_FALSE(FileExists(journal));
}

// A deletion moves data in place: it must wait for readers and for other
// changes, which an exclusive lock gives and a shared one would not.
TEST(ArchiveLocks, ADeletionWaitsForAReaderAndForAnotherDeletion) {
    TempDir dir;
    const std::string vmra = dir.File("x.vmra");
    std::map<std::string, std::string> sources;
    auto make = [&] {
        std::remove(vmra.c_str());
        VMRAFile archive;
        for (const char* n : {"a.las", "b.las", "c.las", "d.las"}) {
            sources[n] = archtest::GenerateLas(dir, n, 60000, 1 + n[0] % 3, n[0]);
            archive.AddLasFile(sources[n], vmra);
        }
    };
    make();
    const Bytes before = ReadAll(vmra);
    const int reader = ::open(vmra.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    std::atomic<bool> done{false};
    std::thread deletion([&] {
        VMRAFile archive;
        archive.DeleteEntry(vmra, "a.las");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_FALSE(done.load()) << "the deletion did not wait for the reader";
    EXPECT_EQ(ReadAll(vmra), before);
    flock(reader, LOCK_UN);
    ::close(reader);
    deletion.join();
    EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"b.las", "c.las", "d.las"}));

    for (int round = 0; round < 5; ++round) {
        make();
        std::thread first([&] { VMRAFile().DeleteEntry(vmra, "a.las"); });
        std::thread second([&] { VMRAFile().DeleteEntry(vmra, "c.las"); });
        first.join();
        second.join();
        ASSERT_EQ(EntryNames(vmra), (std::vector<std::string>{"b.las", "d.las"})) << round;
        TempDir out;
        VMRAFile extractor;
        for (const char* n : {"b.las", "d.las"}) {
            extractor.ExtractEntry(vmra, n, out.Path().string() + "/");
            ASSERT_EQ(ReadAll(out.File(n)), ReadAll(sources[n])) << round << " " << n;
        }
    }
}

// Bytes appended to a LAS file while it is compressed would be missing from
// the entry: the file is refused and the archive stays as it was.
TEST(AddWhileChanging, AFileThatGrowsWhileItIsCompressedIsRefused) {
    TempDir dir;
    const std::string vmra = dir.File("x.vmra");
    VMRAFile archive;
    archive.AddLasFile(archtest::GenerateLas(dir, "a.las", 1500, 1, 1), vmra);
    const Bytes before = ReadAll(vmra);
    const std::string big = archtest::GenerateLas(dir, "big.las", 2100000, 1, 2);
    std::string message;
    std::thread add([&] { message = testsupport::MessageOf([&] { archive.AddLasFile(big, vmra); }); });
    while (archive.Engine().streamsDone.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Held still while the file grows, so it surely grows during the add.
    archive.Engine().RequestPause();
    {
        std::ofstream grow(big, std::ios::binary | std::ios::app);
        grow << "appended while compressed";
    }
    archive.Engine().Resume();
    add.join();
    EXPECT_EQ(message, archmsg::kChangedWhileRead.text);
    EXPECT_EQ(ReadAll(vmra), before);
}

}  // namespace
