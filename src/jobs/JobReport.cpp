#include "jobs/JobReport.h"

#include <algorithm>
#include <cmath>

#include "platform/Paths.h"

QString MessageAbout(const QString& message, const QString& about, int cause) {
    QString text = message;
    if (!about.isEmpty()) text += QStringLiteral("\n\n") + about;
    if (cause != 0) {
        const QString reason = platform::FromCore(velmora::SystemErrorText(cause));
        if (!reason.isEmpty()) text += (about.isEmpty() ? QStringLiteral("\n\n") : QStringLiteral("\n")) + reason;
    }
    return text;
}

QString FailureText(const velmora::ItemReport& result) {
    return MessageAbout(platform::FromCore(result.reason), platform::FromCore(velmora::EscapeName(result.subject)),
                        result.systemError);
}

bool KeepsLogOpen(const velmora::JobReport& summary) {
    return std::any_of(summary.items.begin(), summary.items.end(), [](const velmora::ItemReport& r) {
        return r.outcome == velmora::Outcome::Refused || r.outcome == velmora::Outcome::Failed ||
               r.outcome == velmora::Outcome::Damaged;
    });
}

bool KeepsTestOpen(const velmora::JobReport& summary) {
    if (KeepsLogOpen(summary)) return true;
    return !summary.items.empty() && !summary.stopped && !summary.ended;
}

std::optional<double> BatchRatio(const velmora::JobReport& summary) {
    uint64_t las = 0, stored = 0;
    for (const velmora::ItemReport& r : summary.items) {
        if (r.outcome != velmora::Outcome::Added && r.outcome != velmora::Outcome::Replaced) continue;
        las += r.lasBytes;
        stored += r.storedBytes;
    }
    if (las == 0) return std::nullopt;
    return static_cast<double>(stored) / static_cast<double>(las);
}

velmora::ItemStart ItemOf(const velmora::ItemReport& result) {
    velmora::ItemStart item;
    item.name = result.name;
    item.displayName = platform::ToCore(platform::FileNamePart(platform::FromCore(result.name)));
    item.index = result.index;
    item.count = result.count;
    item.lasBytes = result.lasBytes;
    return item;
}

int PercentOf(const velmora::JobStatus& status) {
    return static_cast<int>(std::clamp<long>(std::lround(status.fraction * 100), 0, 100));
}

QString RatioShown(double ratio) { return QString::asprintf("%.0f ", ratio * 100.0) + QLatin1Char('%'); }
