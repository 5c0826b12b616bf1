// Archives written by others, through the real executable: which entries may
// become files, how their names reach the terminal, entries of one name, and
// checksum records that no longer hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "TestSupport.h"
#include "app/CommandLineMessages.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::FakeEntry;
using archtest::FolderContents;
using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Bytes that must never reach a terminal from a name: ESC, BEL, CR, the C1
// CSI, a byte that is no UTF-8, and the right-to-left override.
void ExpectNoRawControls(const std::string& text, const std::string& what) {
    for (const std::string bad : {"\x1b", "\x07", "\r", "\xc2\x9b", "\xff", "\xe2\x80\xae"}) {
        EXPECT_FALSE(Contains(text, bad)) << what << " passes a raw byte of a name:\n" << text;
    }
}

// One LAS file, and entries of it under the given names (without checksums).
struct NamedEntries {
    TempDir dir;
    std::string las = archtest::GenerateLas(dir, "a.las", 1200, 1, 1);
    std::string vmra = dir.File("x.vmra");

    void Write(const std::vector<std::string>& names, const std::vector<std::string>& shortened = {}) {
        const FakeEntry real = archtest::EntryOf(las);
        std::vector<FakeEntry> entries;
        for (const std::string& name : names) {
            FakeEntry e = real;
            e.name = name;
            // A LAS size one byte longer than the file: damage any extraction
            // or test finds, checksum or not.
            if (std::find(shortened.begin(), shortened.end(), name) != shortened.end()) {
                ++e.uncompressedSize;
            }
            entries.push_back(e);
        }
        WriteAll(vmra, archtest::BuildArchive(entries));
    }
};

TEST(VelmoraEntryNames, OnlyPlainLasNamesAreWrittenAndEveryOtherEntryIsRefusedByName) {
    NamedEntries a;
    const std::vector<std::pair<std::string, const char*>> refused = {
        {".bashrc", archmsg::kNameHidden.text},
        {"Makefile", archmsg::kNameNotLas.text},
        {"other.vmra", archmsg::kNameNotLas.text},
        {"x.vmra-journal", archmsg::kNameNotLas.text},
        {".hidden.las", archmsg::kNameHidden.text},
        {"../up.las", archmsg::kUnsafeEntryName.text},
        {"tab\t.las", archmsg::kNameHasControl.text},
        {"del\x7f.las", archmsg::kNameHasControl.text},
        {"csi\xc2\x9b.las", archmsg::kNameHasControl.text},
    };
    std::vector<std::string> names = {"a.las"};
    for (const auto& r : refused) names.push_back(r.first);
    names.push_back("B.LAS");
    a.Write(names);

    TempDir root;
    const std::string out = root.File("out");
    std::filesystem::create_directory(out);
    WriteAll(out + "/.bashrc", {'k', 'e', 'e', 'p'});
    WriteAll(out + "/Makefile", {'k', 'e', 'e', 'p'});
    const ExeResult r = Velmora(out, {"-d", a.vmra});
    EXPECT_EQ(r.status, 255) << "not every entry was extracted";
    EXPECT_EQ(FolderContents(out), (std::vector<std::string>{".bashrc", "B.LAS", "Makefile", "a.las"}));
    EXPECT_EQ(FolderContents(root.Path().string()), std::vector<std::string>{"out"});
    EXPECT_EQ(ReadAll(out + "/.bashrc"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ReadAll(out + "/Makefile"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ReadAll(out + "/a.las"), ReadAll(a.las));
    EXPECT_EQ(ReadAll(out + "/B.LAS"), ReadAll(a.las));
    const std::map<std::string, std::string> shown = {{"tab\t.las", "tab\\x09.las"},
                                                      {"del\x7f.las", "del\\x7f.las"},
                                                      {"csi\xc2\x9b.las", "csi\\u009b.las"}};
    for (const auto& [name, message] : refused) {
        const auto escaped = shown.find(name);
        const std::string line = (escaped == shown.end() ? name : escaped->second) + ": " + message;
        EXPECT_TRUE(Contains(r.err, line + "\n")) << line << "\n" << r.err;
    }

    // A test writes nothing: it decodes every entry, whatever its name.
    const ExeResult t = Velmora(out, {"-t", a.vmra});
    EXPECT_EQ(t.status, 0) << t.out << t.err;
    EXPECT_TRUE(Contains(t.out, "11 files ok without checksum\n")) << t.out;
}

TEST(VelmoraEntryNames, NamesReachTheTerminalEscapedInListingsTestsAndFailures) {
    NamedEntries a;
    const std::string esc = "esc\x1b]0;owned\x07.las", cr = "cr\rok.las", c1 = "c1\xc2\x9b.las";
    const std::string bad = "bad\xff.las", rtl = "rtl\xe2\x80\xaesal.las", slash = "back\\slash.las";
    a.Write({esc, cr, c1, bad, rtl, slash}, {bad, rtl});
    const std::string escEsc = "esc\\x1b]0;owned\\x07.las", escCr = "cr\\x0dok.las",
                      escC1 = "c1\\u009b.las", escBad = "bad\\xff.las", escRtl = "rtl\\u202esal.las",
                      escSlash = "back\\\\slash.las";

    const ExeResult list = Velmora(a.dir.Path().string(), {"-l", "x.vmra"});
    EXPECT_EQ(list.status, 0);
    ExpectNoRawControls(list.out + list.err, "-l");
    for (const std::string& name : {escEsc, escCr, escC1, escBad, escRtl, escSlash}) {
        EXPECT_TRUE(Contains(list.out, "  " + name + "\n")) << name << "\n" << list.out;
    }
    // The JSON document is printed too: its names keep their characters, but
    // none of them reaches the terminal raw.
    const ExeResult json = Velmora(a.dir.Path().string(), {"--json", "-l", "x.vmra"});
    ExpectNoRawControls(json.out, "--json -l");
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["entries"][0]["name"], esc);
    EXPECT_EQ(doc["entries"][4]["name"], rtl);

    const ExeResult test = Velmora(a.dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(test.status, 255);
    ExpectNoRawControls(test.out + test.err, "-t");
    EXPECT_EQ(test.out, escEsc + climsg::kTestNoChecksum + "\n" + escCr + climsg::kTestNoChecksum +
                            "\n" + escC1 + climsg::kTestNoChecksum + "\n" + escBad +
                            climsg::kTestDamaged + archmsg::kLengthMismatch.text + "\n" + escRtl +
                            climsg::kTestDamaged + archmsg::kLengthMismatch.text + "\n" + escSlash +
                            climsg::kTestNoChecksum + "\n4 files ok without checksum, 2 damaged\n");

    TempDir out;
    const ExeResult extract = Velmora(out.Path().string(), {"-d", a.vmra});
    EXPECT_EQ(extract.status, 255);
    ExpectNoRawControls(extract.out + extract.err, "-d");
    for (const std::string& line :
         {escEsc + ": " + archmsg::kNameHasControl.text, escCr + ": " + archmsg::kNameHasControl.text,
          escC1 + ": " + archmsg::kNameHasControl.text, escBad + ": " + archmsg::kLengthMismatch.text,
          escRtl + ": " + archmsg::kLengthMismatch.text, escSlash + ": " + archmsg::kUnsafeEntryName.text}) {
        EXPECT_TRUE(Contains(extract.err, line + "\n")) << line << "\n" << extract.err;
    }
    EXPECT_TRUE(FolderContents(out.Path().string()).empty());
}

// An add killed half way leaves a journal; the next program to open the
// archive undoes the add and says so, -l included.
TEST(VelmoraEntryNames, AListingThatUndoesAnInterruptedChangeSaysSo) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 1500, 1, 1);
    const std::string b = archtest::GenerateLas(dir, "b.las", 1500, 3, 2);
    const std::string vmra = dir.File("x.vmra");
    VMRAFile().AddLasFile(a, vmra);
    const Bytes before = ReadAll(vmra);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VELMORA_FAULT", "kill@9", 1);
        try {
            VMRAFile().AddLasFile(b, vmra);
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the add was not killed";
    ASSERT_TRUE(FileExists(vmra + "-journal"));

    const ExeResult r = Velmora(dir.Path().string(), {"-l", "x.vmra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string("x.vmra: ") + archmsg::kRecovered + "\n");
    EXPECT_TRUE(Contains(r.out, "  a.las\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "b.las")) << r.out;
    EXPECT_FALSE(FileExists(vmra + "-journal"));
    EXPECT_EQ(ReadAll(vmra), before);
}

// Two entries of one name (a writer of ours never makes them): each is an
// entry of its own for a test, and only the first becomes a file.
TEST(VelmoraEntryNames, EntriesOfOneNameAreTestedEachAndOnlyTheFirstIsExtracted) {
    TempDir dir, other;
    const std::string first = archtest::GenerateLas(dir, "a.las", 1500, 1, 1);
    const std::string second = archtest::GenerateLas(other, "a.las", 2500, 3, 2);
    const std::string b = archtest::GenerateLas(dir, "b.las", 1200, 0, 3);
    FakeEntry later = archtest::EntryOf(second);
    const std::vector<FakeEntry> entries = {archtest::EntryOf(first), archtest::EntryOf(b), later};
    const std::string vmra = dir.File("x.vmra");
    WriteAll(vmra, archtest::BuildArchive(entries));

    ExeResult r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "a.las: ok\nb.las: ok\na.las: ok\n3 files tested ok\n");

    TempDir out;
    r = Velmora(out.Path().string(), {"-d", vmra});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind(std::string("a.las: ") + archmsg::kDuplicateEntry.text + "\nUsage:", 0), 0u) << r.err;
    EXPECT_EQ(FolderContents(out.Path().string()), (std::vector<std::string>{"a.las", "b.las"}));
    EXPECT_EQ(ReadAll(out.File("a.las")), ReadAll(first));
    EXPECT_EQ(ReadAll(out.File("b.las")), ReadAll(b));

    // The later entry damaged (a byte of its stored header's system
    // identifier): only a test of that very entry can see it.
    later.data[30] ^= 0x10;
    WriteAll(vmra, archtest::BuildArchive({archtest::EntryOf(first), archtest::EntryOf(b), later}));
    r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, std::string("a.las: ok\nb.las: ok\na.las: damaged: ") +
                         archmsg::kChecksumMismatch.text + "\n2 files tested ok, 1 damaged\n");
}

// Every byte of a checksum record after its tag, and a byte of the name it is
// bound to: a record that no longer holds is damage, never "no checksum".
TEST(VelmoraEntryNames, AChecksumRecordThatNoLongerHoldsIsDamage) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 700, 1, 1);
    const std::string coded = archtest::GenerateLas(dir, "coded.las", 2500, 3, 2);
    const std::string vmra = dir.File("x.vmra");
    VMRAFile archive;
    archive.AddLasFile(a, vmra);
    archive.AddLasFile(coded, vmra);
    const Bytes good = ReadAll(vmra);
    const std::size_t field = archtest::RecordAt(good, 1) + 12;
    std::vector<std::size_t> flips = {0};  // the name's first byte: "boded.las"
    for (std::size_t k = 4; k < EntryRecord::kChecksumBytes; ++k) flips.push_back(10 + k);
    for (const std::size_t at : flips) {
        Bytes bad = good;
        bad[field + at] ^= 0x01;
        WriteAll(vmra, bad);
        const std::string label = "name field byte " + std::to_string(at);
        const std::string name = at == 0 ? "boded.las" : "coded.las";

        TempDir out;
        ExeResult r = Velmora(out.Path().string(), {"-d", vmra});
        EXPECT_EQ(r.status, 255) << label;
        EXPECT_EQ(r.err.rfind(name + ": " + archmsg::kChecksumRecordDamaged.text + "\nUsage:", 0), 0u)
            << label << "\n" << r.err;
        EXPECT_EQ(FolderContents(out.Path().string()), std::vector<std::string>{"a.las"}) << label;

        r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
        EXPECT_EQ(r.status, 255) << label;
        EXPECT_EQ(r.out, "a.las: ok\n" + name + climsg::kTestDamaged +
                             archmsg::kChecksumRecordDamaged.text + "\n1 file tested ok, 1 damaged\n")
            << label;

        r = Velmora(dir.Path().string(), {"-l", "x.vmra"});
        EXPECT_EQ(r.status, 0) << label;
        const std::string line =
            std::string("  ") + climsg::kChecksumDamaged + "   " + climsg::kKindClassic + "  " + name + "\n";
        EXPECT_TRUE(Contains(r.out, line))
            << label << "\n" << r.out;
        r = Velmora(dir.Path().string(), {"--json", "-l", "x.vmra"});
        const auto doc = nlohmann::json::parse(r.out);
        EXPECT_EQ(doc["entries"][0]["checksum"], true) << label;
        EXPECT_EQ(doc["entries"][1]["checksum"], std::string(climsg::kChecksumDamaged)) << label;
    }
}

}  // namespace
