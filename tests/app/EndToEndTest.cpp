#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "TestSupport.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::EntryNames;
using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

// Files of the corpus that no entry kind can give back: its points run past
// the end of the file.
const std::set<std::string> kRefused = {"garbage_vlr_count.las"};

std::optional<std::vector<uint8_t>> BytesIfPresent(const std::string& path) {
    if (!FileExists(path)) return std::nullopt;
    return ReadAll(path);
}

// The whole road through the executable: every corpus file, of every version
// and format, into one archive, three entries deleted, one replaced, everything extracted into
// another folder and compared with what went in.
TEST(EndToEnd, TheCorpusGoesThroughAnArchiveAndComesBackIdentical) {
    VELMORA_REQUIRE_CORPUS(corpus);
    TempDir work, out, replacement;
    const std::string vmra = work.File("all.vmra");

    std::map<std::string, std::filesystem::path> expected;  // entry name -> original
    std::vector<std::string> order;
    for (const auto& path : testsupport::EveryCorpusFile()) {
        const std::string name = path.filename().string();
        const auto before = BytesIfPresent(vmra);
        const ExeResult r = Velmora(work.Path().string(), {"-c", path.string(), "all.vmra"});
        if (kRefused.count(name)) {
            EXPECT_EQ(r.status, 255) << name;
            EXPECT_FALSE(r.err.empty()) << name;
            EXPECT_EQ(BytesIfPresent(vmra), before) << name << " changed the archive";
        } else {
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
            expected[name] = path;
            order.push_back(name);
        }
    }
    ASSERT_GE(order.size(), 5u);
    EXPECT_EQ(EntryNames(vmra), order);

    VMRAFile archive;
    for (const std::string& name : {order.front(), order[order.size() / 2], order.back()}) {
        archive.DeleteEntry(vmra, name);
        expected.erase(name);
        order.erase(std::find(order.begin(), order.end(), name));
    }
    EXPECT_EQ(EntryNames(vmra), order);

    // Another file's points under the name of an entry, confirmed on a
    // terminal: the entry is replaced and moves to the end.
    const std::string replaced = order[1];
    std::filesystem::copy_file(expected.at(order[2]), replacement.Path() / replaced);
    const ExeResult yes = exetest::VelmoraOnTerminal(
        work.Path().string(), {"-c", (replacement.Path() / replaced).string(), "all.vmra"}, "y\n");
    ASSERT_EQ(yes.status, 0) << yes.err;
    expected[replaced] = replacement.Path() / replaced;
    order.erase(order.begin() + 1);
    order.push_back(replaced);
    EXPECT_EQ(EntryNames(vmra), order);

    const ExeResult d = Velmora(out.Path().string(), {"-d", vmra});
    ASSERT_EQ(d.status, 0) << d.err;
    std::set<std::string> written;
    for (const auto& e : std::filesystem::directory_iterator(out.Path())) {
        written.insert(e.path().filename().string());
    }
    EXPECT_EQ(written, std::set<std::string>(order.begin(), order.end()));
    for (const auto& [name, original] : expected) {
        EXPECT_EQ(ReadAll(out.Path() / name), ReadAll(original)) << name;
    }
}

}  // namespace
