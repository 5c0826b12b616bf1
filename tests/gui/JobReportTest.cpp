#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "jobs/JobReport.h"

namespace {

using ItemOutcome = velmora::Outcome;
using ItemResult = velmora::ItemReport;
using JobSummary = velmora::JobReport;

ItemResult Result(ItemOutcome outcome) {
    ItemResult r;
    r.outcome = outcome;
    return r;
}

JobSummary Of(std::initializer_list<ItemOutcome> outcomes) {
    JobSummary s;
    for (ItemOutcome o : outcomes) s.items.push_back(Result(o));
    return s;
}

}  // namespace

TEST(JobReportTest, TheBoxNamesTheSubjectElseTheItemAndGivesTheReason) {
    ItemResult r = Result(ItemOutcome::Refused);
    r.name = "/data/v13.las";
    r.subject = r.name;
    r.reason = "Wrong LAS version!";
    EXPECT_EQ(FailureText(r), QStringLiteral("Wrong LAS version!\n\n/data/v13.las"));
    // A name that could steer the box is shown escaped.
    r.subject = "/data/\x1b[2Jv13.las";
    EXPECT_EQ(FailureText(r), QStringLiteral("Wrong LAS version!\n\n/data/\\x1b[2Jv13.las"));

    // About the archive, with the system's reason on a line of its own.
    r.reason = "Error writing archive!";
    r.subject = "/data/x.vmra";
    r.systemError = ENOSPC;
    EXPECT_EQ(FailureText(r), QStringLiteral("Error writing archive!\n\n/data/x.vmra\n") +
                                  QString::fromUtf8(std::strerror(ENOSPC)));
}

TEST(JobReportTest, AMessageAboutNothingKeepsItsReason) {
    EXPECT_EQ(MessageAbout(QStringLiteral("Error opening file!"), QString(), 0), QStringLiteral("Error opening file!"));
    EXPECT_EQ(MessageAbout(QStringLiteral("Error opening file!"), QString(), ENOENT),
              QStringLiteral("Error opening file!\n\n") + QString::fromUtf8(std::strerror(ENOENT)));
    EXPECT_EQ(MessageAbout(QStringLiteral("Wrong file format!"), QStringLiteral("/a/b.vmra"), 0),
              QStringLiteral("Wrong file format!\n\n/a/b.vmra"));
}

TEST(JobReportTest, RefusalsFailuresAndDamageKeepTheLogOpen) {
    EXPECT_FALSE(KeepsLogOpen(JobSummary{}));
    // Declined questions and a stop are the user's choice.
    EXPECT_FALSE(KeepsLogOpen(Of({ItemOutcome::Added, ItemOutcome::Replaced, ItemOutcome::Declined,
                                  ItemOutcome::Stopped, ItemOutcome::Extracted, ItemOutcome::Passed,
                                  ItemOutcome::Unverified, ItemOutcome::Deleted})));
    for (ItemOutcome bad : {ItemOutcome::Refused, ItemOutcome::Failed, ItemOutcome::Damaged}) {
        EXPECT_TRUE(KeepsLogOpen(Of({ItemOutcome::Added, bad})));
        EXPECT_TRUE(KeepsLogOpen(Of({bad, ItemOutcome::Declined})));
    }
}

// Only what went into the archive counts: a kept or refused file stored
// nothing, and a replaced one counts as much as a new one.
TEST(JobReportTest, TheBatchRatioIsWhatWentInOverItsLasBytes) {
    auto item = [](ItemOutcome outcome, int64_t las, int64_t stored) {
        ItemResult r = Result(outcome);
        r.lasBytes = static_cast<uint64_t>(las);
        r.storedBytes = static_cast<uint64_t>(stored);
        return r;
    };
    JobSummary s;
    EXPECT_FALSE(BatchRatio(s).has_value());
    s.items = {item(ItemOutcome::Refused, 5000, 0), item(ItemOutcome::Declined, 700, 0)};
    EXPECT_FALSE(BatchRatio(s).has_value());
    s.items.push_back(item(ItemOutcome::Added, 1000, 150));
    s.items.push_back(item(ItemOutcome::Replaced, 3000, 650));
    s.items.push_back(item(ItemOutcome::Failed, 9000, 0));
    ASSERT_TRUE(BatchRatio(s).has_value());
    EXPECT_DOUBLE_EQ(*BatchRatio(s), 800.0 / 4000.0);
    EXPECT_EQ(RatioShown(*BatchRatio(s)), QStringLiteral("20 %"));
    EXPECT_EQ(RatioShown(0.199), QStringLiteral("20 %"));
    EXPECT_EQ(RatioShown(1.0), QStringLiteral("100 %"));
}

TEST(JobReportTest, ATestThatRanToItsEndKeepsItsVerdictOpen) {
    EXPECT_TRUE(KeepsTestOpen(Of({ItemOutcome::Passed, ItemOutcome::Unverified})));
    EXPECT_TRUE(KeepsTestOpen(Of({ItemOutcome::Damaged})));
    // Nothing tested, or stopped by the user: nothing to give a verdict on.
    EXPECT_FALSE(KeepsTestOpen(JobSummary{}));
    JobSummary stopped = Of({ItemOutcome::Passed, ItemOutcome::Stopped});
    stopped.stopped = true;
    EXPECT_FALSE(KeepsTestOpen(stopped));
    JobSummary ended = Of({ItemOutcome::Passed});
    ended.ended = true;
    EXPECT_FALSE(KeepsTestOpen(ended));
    // Damage found before the stop is still shown.
    ended.items.push_back(Result(ItemOutcome::Damaged));
    EXPECT_TRUE(KeepsTestOpen(ended));
}
