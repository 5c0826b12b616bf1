#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "engine/EngineMessages.h"
#include "jobs/core/ArchiveJob.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

using archtest::GenerateLas;
using testsupport::TempDir;

namespace {

// Every layer's table with the hundred its codes belong to.
struct Layer {
    const char* name;
    int hundred;
    std::vector<const Failure*> failures;
};

std::vector<Layer> Layers() {
    auto all = [](const auto& table) { return std::vector<const Failure*>(std::begin(table), std::end(table)); };
    return {{"las", 100, all(lasmsg::kFailures)},
            {"engine", 200, all(enginemsg::kFailures)},
            {"archive", 300, all(archmsg::kFailures)}};
}

TEST(FailureTables, EveryFailureHasACodeOfItsOwnWithinItsLayer) {
    std::map<int, std::string> seen;
    std::set<std::string> texts;
    for (const Layer& layer : Layers()) {
        for (const Failure* f : layer.failures) {
            EXPECT_GE(f->code, layer.hundred + 1) << f->text;
            EXPECT_LT(f->code, layer.hundred + 100) << f->text;
            EXPECT_TRUE(seen.emplace(f->code, f->text).second)
                << "code " << f->code << " twice: \"" << seen[f->code] << "\" and \"" << f->text << "\"";
            EXPECT_NE(std::string(f->text), "") << f->code;
            // Two failures a user cannot tell apart would be one failure.
            EXPECT_TRUE(texts.insert(f->text).second) << f->text;
        }
    }
    // The engine's aliases are the LAS layer's failures themselves.
    EXPECT_TRUE(enginemsg::kWritePoint.Is(lasmsg::kWritePoint));
    EXPECT_TRUE(archmsg::kVersion.Is(lasmsg::kVersion));
}

// A host that answers the replace question by failing with a given failure,
// as if the core had failed at that point.
class FailingHost : public IJobHost {
public:
    explicit FailingHost(Failure f) : failure(f) {}
    void ItemStarted(const JobItem&) override {}
    bool ConfirmReplace(const JobItem&) override { throw CLasException(failure, true); }
    bool ConfirmOverwrite(const JobItem&, const std::string&) override { return false; }
    void Notice(const std::string&) override {}
    bool ItemFinished(const ItemResult&) override { return true; }

private:
    Failure failure;
};

// Which file a failed item names follows the failure's subject, whatever
// its text says: a failure that reads like one about the archive but is
// about the item names the item, and the other way round.
TEST(FailureTables, AReportNamesTheFileTheFailureIsAboutNotTheOneItsTextSuggests) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "a.las", 500, 1, 7);
    const std::string vmra = dir.File("a.vmra");
    {
        FailingHost quiet(lasmsg::kVersion);
        CArchiveJob job(quiet);
        ASSERT_EQ(job.Add({las}, vmra).items.at(0).outcome, ItemOutcome::Added);
    }
    const Failure itemWithArchiveText =
        failures::Of(951, FailureKind::Refused, archmsg::kErrorOpeningArchive.text);
    const Failure archiveWithItemText =
        failures::OfArchive(952, FailureKind::Failed, archmsg::kErrorOpeningLas.text);
    for (const auto& [failure, subject] :
         {std::pair{itemWithArchiveText, std::string()}, std::pair{archiveWithItemText, vmra}}) {
        FailingHost host(failure);
        CArchiveJob job(host);
        const JobSummary s = job.Add({las}, vmra);
        ASSERT_EQ(s.items.size(), 1u);
        EXPECT_EQ(s.items[0].outcome, ItemOutcome::Refused) << failure.code;
        EXPECT_TRUE(s.items[0].failure.Is(failure)) << failure.code;
        EXPECT_EQ(s.items[0].subject, subject) << failure.code;
        EXPECT_EQ(s.items[0].message, failure.text);
    }
}

}  // namespace
