#include "jobs/JobReport.h"

#include <algorithm>

#include "archive/EntryNames.h"
#include "las/LasException.h"
#include "platform/Paths.h"

QString MessageAbout(const QString& message, const QString& about, int cause) {
    QString text = message;
    if (!about.isEmpty()) text += QStringLiteral("\n\n") + about;
    if (cause != 0) {
        const QString reason = platform::FromCore(CauseText(cause));
        if (!reason.isEmpty()) text += (about.isEmpty() ? QStringLiteral("\n\n") : QStringLiteral("\n")) + reason;
    }
    return text;
}

QString FailureText(const ItemResult& result) {
    const std::string& about = result.subject.empty() ? result.item.name : result.subject;
    return MessageAbout(platform::FromCore(result.message), platform::FromCore(EscapeName(about)), result.cause);
}

bool KeepsLogOpen(const JobSummary& summary) {
    return std::any_of(summary.items.begin(), summary.items.end(), [](const ItemResult& r) {
        return r.outcome == ItemOutcome::Refused || r.outcome == ItemOutcome::Failed ||
               r.outcome == ItemOutcome::Damaged;
    });
}

bool KeepsTestOpen(const JobSummary& summary) {
    if (KeepsLogOpen(summary)) return true;
    return !summary.items.empty() && !summary.stopped && !summary.ended;
}

std::optional<double> BatchRatio(const JobSummary& summary) {
    int64_t las = 0, stored = 0;
    for (const ItemResult& r : summary.items) {
        if (r.outcome != ItemOutcome::Added && r.outcome != ItemOutcome::Replaced) continue;
        las += r.item.lasBytes;
        stored += r.storedBytes;
    }
    if (las <= 0) return std::nullopt;
    return static_cast<double>(stored) / static_cast<double>(las);
}

QString RatioShown(double ratio) { return QString::asprintf("%.0f ", ratio * 100.0) + QLatin1Char('%'); }
