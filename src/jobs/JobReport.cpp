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
