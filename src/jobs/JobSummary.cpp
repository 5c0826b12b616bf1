#include "jobs/JobSummary.h"

#include "jobs/JobMessages.h"

bool KeepsLogOpen(const JobTally& tally) { return tally.refused > 0 || tally.failed > 0; }

std::string JobSummary(const JobTally& tally, const char* doneVerb) {
    std::string text = std::to_string(tally.done) + " " +
                       (tally.done == 1 ? jobmsg::kSummaryFile : jobmsg::kSummaryFiles) + " " + doneVerb;
    const struct {
        int count;
        const char* word;
    } others[] = {{tally.refused, jobmsg::kSummaryRefused},
                  {tally.failed, jobmsg::kSummaryFailed},
                  {tally.skipped, jobmsg::kSummarySkipped}};
    for (const auto& o : others)
        if (o.count > 0) text += ", " + std::to_string(o.count) + " " + o.word;
    return text;
}
