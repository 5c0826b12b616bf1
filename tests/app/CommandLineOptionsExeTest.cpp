#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/CommandLineMessages.h"
#include "app/EntryListing.h"
#include "app/TerminalText.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::EntryNames;
using archtest::FolderContents;
using exetest::ExeResult;
using exetest::Velmora;
using exetest::VelmoraOnTerminal;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::string Usage() { return UsageText(exetest::ExePath()); }

void Generate(const std::string& path, uint64_t points, int format, uint64_t seed) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = seed;
    ASSERT_TRUE(GenerateLasFile(path, o));
}

// Two small LAS files, one large enough to be coded in chunks, and an
// archive of the first two.
struct Folder {
    TempDir dir;
    Folder() {
        Generate(dir.File("a.las"), 41, 1, 1);
        Generate(dir.File("b.las"), 5000, 3, 2);
        EXPECT_EQ(Velmora(Path(), {"-c", "a.las", "b.las", "x.vmra"}).status, 0);
    }
    std::string Path() const { return dir.Path().string(); }
    std::string File(const std::string& name) const { return dir.File(name); }
};

// A file that takes long enough to compress for the progress line to be
// redrawn a few times (on one engine thread, so a faster machine does not
// finish before the first redraw); made once for every test that needs it.
const std::string& LargeFile() {
    static TempDir dir;
    static const std::string path = [] {
        const std::string p = dir.File("large.las");
        Generate(p, 1500000, 1, 7);
        return p;
    }();
    return path;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// True when `what` starts a fresh line of the terminal's output: at the very
// beginning, after a line break, or after a progress line was cleared.
bool StartsALine(const std::string& output, const std::string& what) {
    const auto at = output.find(what);
    if (at == std::string::npos) return false;
    const std::string before = output.substr(0, at);
    return before.empty() || before.back() == '\n' ||
           (before.size() >= 4 && before.substr(before.size() - 4) == "\r\x1b[K");
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

TEST(VelmoraHelp, HelpAndVersionGoToStandardOutputAndSucceed) {
    TempDir dir;
    for (const char* form : {"--help", "-h"}) {
        const ExeResult r = Velmora(dir.Path().string(), {form});
        EXPECT_EQ(r.status, 0) << form;
        EXPECT_EQ(r.err, "") << form;
        EXPECT_EQ(r.out, HelpText(exetest::ExePath())) << form;
    }
    const std::string help = HelpText(exetest::ExePath());
    // The usage text first, unchanged; then every switch and option.
    EXPECT_EQ(help.substr(0, Usage().size()), Usage());
    for (const char* item : {" -l [-v] <*.vmra archive | *.las file>\n", "  -v, --verbose  ", "  -o DIR  ", "  -j N, --threads N  ", "  -y  ",
                             "  -q  ", "  --json  ", "  -h, --help  ", "  --version  ",
                             "Exit status: 0"}) {
        EXPECT_NE(help.find(item), std::string::npos) << item;
    }
    const ExeResult v = Velmora(dir.Path().string(), {"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, std::string("velmora ") + VELMORA_EXPECTED_VERSION + "\n");
    EXPECT_TRUE(FolderContents(dir.Path().string()).empty());
}

TEST(VelmoraHelp, WrongOrMisplacedOptionsShowTheUsageText) {
    Folder f;
    const auto before = ReadAll(f.File("x.vmra"));
    const std::vector<std::vector<std::string>> lines = {
        {"-x", "-c", "a.las", "y.vmra"},      {"--bogus"},
        {"-j", "0", "-c", "a.las", "y.vmra"}, {"-j", "many", "-d", "x.vmra"},
        {"-j"},                               {"-q"},
        {"-o", "out", "-c", "a.las", "y.vmra"}, {"-y", "-d", "x.vmra"},
        {"--json", "-d", "x.vmra"},           {"-q", "-l", "x.vmra"},
        {"-l"},                               {"-l", "a.txt"},
        {"-l", "x.vmra", "x.vmra"},           {"-c", "a.las", "-q", "y.vmra"},
        {"-v", "-d", "x.vmra"},               {"-l", "-v", "-v", "x.vmra"},
    };
    for (const auto& args : lines) {
        const ExeResult r = Velmora(f.Path(), args);
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_EQ(r.err, Usage()) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
    EXPECT_EQ(FolderContents(f.Path()), (std::vector<std::string>{"a.las", "b.las", "x.vmra"}));
    EXPECT_EQ(ReadAll(f.File("x.vmra")), before);
    // A LAS file after -l is described, and nothing is made of it.
    const ExeResult described = Velmora(f.Path(), {"-l", "a.las"});
    EXPECT_EQ(described.status, 0) << described.err;
    EXPECT_EQ(described.out.rfind("a.las\n  LAS version", 0), 0u) << described.out;
    EXPECT_EQ(FolderContents(f.Path()), (std::vector<std::string>{"a.las", "b.las", "x.vmra"}));
}

TEST(VelmoraList, OneLinePerEntryFromTheStoredHeadersThenTheTotals) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"-l", "x.vmra"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(Words(lines[0]), (std::vector<std::string>{"LAS", "size", "Stored", "Ratio", "Version",
                                                         "Format", "Points", "Checksum", "Kind", "Name"}));
    const auto a = Words(lines[1]);
    const auto b = Words(lines[2]);
    ASSERT_EQ(a.size(), 9u);
    ASSERT_EQ(b.size(), 9u);
    const auto aBytes = static_cast<uint64_t>(FileSizeOf(f.File("a.las")));
    const auto bBytes = static_cast<uint64_t>(FileSizeOf(f.File("b.las")));
    EXPECT_EQ(a, (std::vector<std::string>{GroupDigits(aBytes), a[1], a[2], "1.2", "1", "41", "yes", "classic", "a.las"}));
    EXPECT_EQ(b, (std::vector<std::string>{GroupDigits(bBytes), b[1], b[2], "1.2", "3", "5,000", "yes", "classic", "b.las"}));
    // The stored sizes are the entries' shares of the archive: magic number,
    // data, 268-byte records and the count.
    const auto stored = [](const std::string& s) {
        std::string digits;
        for (char c : s) if (c != ',') digits += c;
        return std::stoll(digits);
    };
    EXPECT_EQ(4 + stored(a[1]) + stored(b[1]) + 2 * 268 + 4, FileSizeOf(f.File("x.vmra")));
    EXPECT_EQ(Words(lines[3]).back(), "entries");
    EXPECT_EQ(Words(lines[3])[3], "5,041");
}

TEST(VelmoraList, JsonGivesTheSameListingAsOneDocument) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"--json", "-l", "x.vmra"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["archive"], "x.vmra");
    ASSERT_EQ(doc["entries"].size(), 2u);
    EXPECT_EQ(doc["entries"][0]["name"], "a.las");
    EXPECT_EQ(doc["entries"][0]["las_size"], FileSizeOf(f.File("a.las")));
    EXPECT_EQ(doc["entries"][1]["points"], 5000);
    EXPECT_EQ(doc["entries"][1]["point_format"], 3);
    EXPECT_EQ(doc["totals"]["entries"], 2);
    // The text listing of the same archive shows the same figures.
    EXPECT_EQ(Velmora(f.Path(), {"-l", "x.vmra"}).out,
              FormatEntryListing(velmora::Archive::Open(f.File("x.vmra")).Entries()));
}

// --extended stores even a file the classic kind could carry in the
// extended kind; -l says which kind each entry is, and -d gives it back.
TEST(VelmoraList, TheKindOfEachEntryIsShownAndExtendedStoresEveryFileSo) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"--extended", "-y", "-c", "b.las", "x.vmra"}).status, 0);
    const ExeResult r = Velmora(f.Path(), {"-l", "x.vmra"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(Words(lines[1])[7], "classic") << r.out;
    EXPECT_EQ(Words(lines[1])[8], "a.las") << r.out;
    EXPECT_EQ(Words(lines[2])[7], "extended") << r.out;
    EXPECT_EQ(Words(lines[2])[8], "b.las") << r.out;
    const auto doc = nlohmann::json::parse(Velmora(f.Path(), {"--json", "-l", "x.vmra"}).out);
    EXPECT_EQ(doc["entries"][1]["kind"], "extended");
    TempDir out;
    ASSERT_EQ(Velmora(out.Path().string(), {"-d", f.File("x.vmra")}).status, 0);
    EXPECT_EQ(ReadAll(out.File("b.las")), ReadAll(f.File("b.las")));
    // It goes with -c only.
    EXPECT_EQ(Velmora(f.Path(), {"--extended", "-l", "x.vmra"}).status, 255);
}

TEST(VelmoraList, ArchivesThatCannotBeListedAreNamedWithTheReason) {
    Folder f;
    const ExeResult missing = Velmora(f.Path(), {"-l", "none.vmra"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err, "Error opening file none.vmra !\n");
    EXPECT_EQ(missing.out, "");

    WriteAll(f.File("bad.vmra"), {1, 2, 3, 4, 5, 6, 7, 8});
    const ExeResult bad = Velmora(f.Path(), {"--json", "-l", "bad.vmra"});
    EXPECT_EQ(bad.status, 255);
    EXPECT_EQ(bad.err, std::string("bad.vmra: ") + archmsg::kWrongFormat.text + "\n");
    EXPECT_EQ(bad.out, "");

    std::filesystem::create_directory(f.File("folder.vmra"));
    const ExeResult folder = Velmora(f.Path(), {"-l", "folder.vmra"});
    EXPECT_EQ(folder.status, 255);
    EXPECT_NE(folder.err.find("folder.vmra"), std::string::npos) << folder.err;

    WriteAll(f.File("empty.vmra"), {});
    const ExeResult empty = Velmora(f.Path(), {"-l", "empty.vmra"});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(Lines(empty.out).size(), 2u);
    EXPECT_EQ(Words(Lines(empty.out)[1]).back(), "entries");
}

TEST(VelmoraOutputFolder, ExtractsIntoTheFolderMadeWithItsParents) {
    Folder f;
    const ExeResult all = Velmora(f.Path(), {"-o", "out/sub", "-d", "x.vmra"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(FolderContents(f.File("out/sub")), (std::vector<std::string>{"a.las", "b.las"}));
    EXPECT_EQ(ReadAll(f.File("out/sub/a.las")), ReadAll(f.File("a.las")));
    EXPECT_EQ(ReadAll(f.File("out/sub/b.las")), ReadAll(f.File("b.las")));

    // Named entries, the folder already there, the folder given with a slash.
    const ExeResult named = Velmora(f.Path(), {"-oout/", "-d", "b.las", "x.vmra"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(FolderContents(f.File("out")), (std::vector<std::string>{"b.las", "sub"}));
    EXPECT_EQ(ReadAll(f.File("out/b.las")), ReadAll(f.File("b.las")));
    EXPECT_EQ(FolderContents(f.Path()), (std::vector<std::string>{"a.las", "b.las", "out", "x.vmra"}));
}

TEST(VelmoraOutputFolder, AFolderThatCannotBeMadeEndsTheRunBeforeAnythingIsWritten) {
    Folder f;
    const auto before = ReadAll(f.File("a.las"));
    const ExeResult file = Velmora(f.Path(), {"-o", "a.las", "-d", "x.vmra"});
    EXPECT_EQ(file.status, 255);
    EXPECT_EQ(file.err.rfind(std::string("a.las") + climsg::kCannotMakeFolder + " (", 0), 0u) << file.err;
    EXPECT_EQ(Count(file.err, "\n"), 1u) << "no usage text after a reason: " << file.err;
    EXPECT_EQ(ReadAll(f.File("a.las")), before);

    const ExeResult below = Velmora(f.Path(), {"-o", "a.las/out", "-d", "x.vmra"});
    EXPECT_EQ(below.status, 255);
    EXPECT_EQ(below.err.rfind(std::string("a.las/out") + climsg::kCannotMakeFolder, 0), 0u) << below.err;

    // A missing archive is reported first, and no folder is made for it.
    const ExeResult missing = Velmora(f.Path(), {"-o", "new", "-d", "none.vmra"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err, "Error opening file none.vmra !\n");
    EXPECT_FALSE(std::filesystem::exists(f.File("new")));
}

TEST(VelmoraThreads, AnyThreadCountStoresAndGivesBackTheSameBytes) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"-c", "b.las", "default.vmra"}).status, 0);
    for (const char* n : {"1", "3"}) {
        const std::string name = std::string("j") + n + ".vmra";
        const ExeResult c = Velmora(f.Path(), {"-j", n, "-c", "b.las", name});
        ASSERT_EQ(c.status, 0) << c.err;
        EXPECT_EQ(ReadAll(f.File(name)), ReadAll(f.File("default.vmra"))) << n;
        const std::string out = std::string("out") + n;
        const ExeResult d = Velmora(f.Path(), {"--threads", n, "-o", out, "-d", name});
        ASSERT_EQ(d.status, 0) << d.err;
        EXPECT_EQ(ReadAll(f.File(out + "/b.las")), ReadAll(f.File("b.las"))) << n;
    }
}

TEST(VelmoraYes, ReplacesWithoutAskingEvenWithoutATerminal) {
    Folder f;
    std::filesystem::create_directory(f.File("new"));
    Generate(f.File("new/a.las"), 77, 0, 9);
    const ExeResult r = Velmora(f.Path(), {"-y", "-c", "new/a.las", "x.vmra"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(EntryNames(f.File("x.vmra")), (std::vector<std::string>{"b.las", "a.las"}));
    const ExeResult d = Velmora(f.Path(), {"-o", "out", "-d", "a.las", "x.vmra"});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(ReadAll(f.File("out/a.las")), ReadAll(f.File("new/a.las")));

    // On a terminal nothing is asked either.
    const ExeResult tty = VelmoraOnTerminal(f.Path(), {"-y", "-c", "a.las", "x.vmra"}, "");
    EXPECT_EQ(tty.status, 0) << tty.err;
    EXPECT_EQ(tty.err.find("Overwrite?"), std::string::npos) << tty.err;
}

TEST(VelmoraProgress, OnATerminalEveryFileEndsWithItsFinalFigures) {
    Folder f;
    const ExeResult c = VelmoraOnTerminal(f.Path(), {"-c", "a.las", "b.las", "y.vmra"}, "");
    ASSERT_EQ(c.status, 0) << c.err;
    // The terminal turns each line break into CR LF.
    for (const char* item : {"[1/2] a.las  100%  ", "[2/2] b.las  100%  "}) {
        ASSERT_NE(c.err.find(std::string("\r") + item), std::string::npos) << item << " in " << c.err;
        const auto at = c.err.find(item);
        const auto end = c.err.find("\x1b[K\r\n", at);
        ASSERT_NE(end, std::string::npos) << c.err;
        EXPECT_NE(c.err.substr(at, end - at).find(" elapsed"), std::string::npos);
        EXPECT_EQ(c.err.substr(at, end - at).find(" left"), std::string::npos) << "final figures";
    }

    // Extraction: the final ratio is the entry's stored size per LAS byte.
    VMRAFile archive;
    const auto entries = archive.ListEntries(f.File("x.vmra"));
    const ExeResult d = VelmoraOnTerminal(f.Path(), {"-o", "out", "-d", "x.vmra"}, "");
    ASSERT_EQ(d.status, 0) << d.err;
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "ratio %.1f%%",
                  100.0 * static_cast<double>(entries[1].extent) / entries[1].record.uncompressedSize);
    const auto at = d.err.find("[2/2] b.las  100%");
    ASSERT_NE(at, std::string::npos) << d.err;
    EXPECT_NE(d.err.find(ratio, at), std::string::npos) << ratio << " in " << d.err;
}

TEST(VelmoraProgress, QuietOrWithoutATerminalNothingIsDrawn) {
    Folder f;
    const ExeResult quiet = VelmoraOnTerminal(f.Path(), {"-q", "-c", "a.las", "b.las", "y.vmra"}, "");
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    const ExeResult quietD = VelmoraOnTerminal(f.Path(), {"-q", "-o", "o", "-d", "y.vmra"}, "");
    ASSERT_EQ(quietD.status, 0) << quietD.err;
    EXPECT_EQ(quietD.err, "");

    // Standard error into a file, for long enough that a line would be
    // redrawn: nothing at all.
    const ExeResult file = Velmora(f.Path(), {"-j", "1", "-c", LargeFile(), "large.vmra"});
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_GT(file.seconds, 0.2);
    EXPECT_EQ(file.err, "");
    EXPECT_EQ(file.out, "");
}

TEST(VelmoraProgress, ALongFileIsRedrawnInPlaceAtMostFiveTimesASecond) {
    Folder f;
    const ExeResult r = VelmoraOnTerminal(f.Path(), {"-j", "1", "-c", LargeFile(), "large.vmra"}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t draws = Count(r.err, "\rlarge.las  ");
    EXPECT_GE(draws, 2u) << "no running figures before the final line: " << r.err;
    EXPECT_LE(draws, static_cast<std::size_t>(r.seconds * 5) + 2) << r.seconds << " s: " << r.err;
    EXPECT_EQ(Count(r.err, "\x1b[K"), draws) << "every draw clears what an older, longer one left";
    EXPECT_NE(r.err.find(" left\x1b[K"), std::string::npos) << r.err;
    EXPECT_EQ(Count(r.err, "\n"), 1u) << "one line for the file: " << r.err;
}

TEST(VelmoraProgress, MessagesAndQuestionsNeverLandInsideAProgressLine) {
    Folder f;
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(4);
    WriteAll(f.File("v13.las"), testsupport::BuildLas(v13));
    const ExeResult failed = VelmoraOnTerminal(f.Path(), {"-c", "b.las", "v13.las", "y.vmra"}, "");
    EXPECT_EQ(failed.status, 255);
    // The terminal shows the message's line breaks as CR LF: its first line
    // is enough to find it.
    const std::string message = std::string(lasmsg::kShortRecords.text);
    EXPECT_TRUE(StartsALine(failed.err, "v13.las: " + message.substr(0, message.find('\n')))) << failed.err;
    EXPECT_EQ(failed.err.find("v13.las  "), std::string::npos) << "a failed file has no final line";

    // The question comes on a line of its own, and the file's line after it.
    const ExeResult asked = VelmoraOnTerminal(f.Path(), {"-c", "b.las", "x.vmra"}, "y\n");
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_TRUE(StartsALine(asked.err, std::string("b.las\r\n\r\nLAS file already exists"))) << asked.err;
    EXPECT_GT(asked.err.find("b.las  100%"), asked.err.find("Overwrite?")) << asked.err;
}

TEST(VelmoraProgress, AStopSignalClearsTheLineBeforeItsMessage) {
    Folder f;
    const auto before = ReadAll(f.File("x.vmra"));
    const ExeResult r = exetest::VelmoraOnTerminalSignalled(
        f.Path(), {"-j", "1", "-c", LargeFile(), "x.vmra"}, " left\x1b[K", SIGINT);
    EXPECT_EQ(r.status, 255) << r.err;
    const std::string stopped = std::string("\r\x1b[K") + "The operation was stopped.\r\n";
    ASSERT_GE(r.err.size(), stopped.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - stopped.size()), stopped) << r.err;
    EXPECT_EQ(ReadAll(f.File("x.vmra")), before);
}

}  // namespace
