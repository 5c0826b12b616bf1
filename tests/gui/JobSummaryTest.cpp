#include <gtest/gtest.h>

#include "jobs/JobSummary.h"

TEST(JobSummaryTest, CountsWithTheirWordsAndOnlyThoseThatHappened) {
    EXPECT_EQ(JobSummary({3, 1, 0, 0}, "added"), "3 files added, 1 refused");
    EXPECT_EQ(JobSummary({1, 0, 0, 0}, "added"), "1 file added");
    EXPECT_EQ(JobSummary({0, 0, 2, 1}, "extracted"), "0 files extracted, 2 failed, 1 skipped");
    EXPECT_EQ(JobSummary({2, 1, 1, 1}, "added"), "2 files added, 1 refused, 1 failed, 1 skipped");
}

TEST(JobSummaryTest, OnlyRefusalsAndFailuresKeepTheLogOpen) {
    EXPECT_FALSE(KeepsLogOpen({}));
    EXPECT_FALSE(KeepsLogOpen({5, 0, 0, 3}));  // declined overwrites are the user's choice
    EXPECT_TRUE(KeepsLogOpen({5, 1, 0, 0}));
    EXPECT_TRUE(KeepsLogOpen({0, 0, 1, 0}));
}
