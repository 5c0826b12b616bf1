#include "listview/DetailsLogic.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

#include "listview/ListLogic.h"
#include "listview/ListMessages.h"
#include "platform/Paths.h"

namespace listview {

namespace {

QString Text(const char* message) { return QString::fromUtf8(message); }

// Bytes of the file as text that cannot mislead.
QString Shown(const std::string& bytes) { return platform::FromCore(velmora::EscapeName(bytes)); }

// The shortest text that reads back as the value, for scales and offsets.
QString Real(double v) { return QString::number(v, 'g', 15); }

QString Triple(const double (&v)[3]) { return Real(v[0]) + QLatin1Char(' ') + Real(v[1]) + QLatin1Char(' ') + Real(v[2]); }

QString ByReturn(const std::vector<uint64_t>& counts) {
    QStringList parts;
    for (std::size_t r = 0; r < counts.size(); ++r) {
        // LAS 1.4's ten further returns only where they hold points.
        if (r >= 5 && counts[r] == 0) continue;
        parts << QString::number(r + 1) + QStringLiteral(": ") + FormatCount(counts[r]);
    }
    return parts.join(QStringLiteral(", "));
}

VlrRow RowOf(const velmora::VlrInfo& v) {
    return {Text(listmsg::kFactVlrName).arg(Shown(v.userId), QString::number(v.recordId)),
            Text(listmsg::kFactVlrAbout).arg(Shown(v.description), FormatByteCount(static_cast<int64_t>(v.length)))};
}

}  // namespace

QString FactsText::Value(const char* label) const {
    for (const FactRow& r : rows)
        if (QString::fromUtf8(r.label) == QString::fromUtf8(label)) return r.value;
    return QString();
}

QString FormatCoordinate(double value, double scale) {
    int decimals = 0;
    for (double s = scale; s > 0 && s < 0.99999 && decimals < 12; s *= 10) ++decimals;
    return QString::number(value, 'f', decimals);
}

QString FormatCrs(const velmora::HeaderFacts& f) {
    QStringList parts;
    if (f.epsg != 0) parts << Text(listmsg::kFactEpsg).arg(f.epsg);
    if (!f.crsName.empty()) parts << Shown(f.crsName);
    return parts.isEmpty() ? Text(listmsg::kFactNotGiven) : parts.join(QStringLiteral(", "));
}

namespace {
// The usual symbol of a unit a coordinate system names.
QString UnitSymbol(const std::string& unit) {
    const QString name = QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size())).toLower();
    if (name.isEmpty()) return Text(listmsg::kUnits);
    if (name.contains(QStringLiteral("us survey foot")) || name.contains(QStringLiteral("foot_us")) ||
        name.contains(QStringLiteral("us foot")))
        return Text(listmsg::kUnitUsFoot);
    if (name.contains(QStringLiteral("foot")) || name.contains(QStringLiteral("feet"))) return Text(listmsg::kUnitFoot);
    if (name.contains(QStringLiteral("metre")) || name.contains(QStringLiteral("meter"))) return Text(listmsg::kUnitMetre);
    if (name.contains(QStringLiteral("degree"))) return Text(listmsg::kUnitDegree);
    return Shown(unit);
}
}  // namespace

QString ScaleBarText(double length, const std::string& unit) {
    const QString number = length >= 1 ? QString::number(length, 'f', 0) : QString::number(length, 'g', 3);
    return Text(listmsg::kScaleBar).arg(number, UnitSymbol(unit));
}

FactsText DescribeFacts(const velmora::HeaderFacts& f) {
    FactsText t;
    auto add = [&t](const char* label, QString value) { t.rows.push_back({label, std::move(value)}); };
    add(listmsg::kFactVersion, QString::number(f.versionMajor) + QLatin1Char('.') + QString::number(f.versionMinor));
    add(listmsg::kFactFormat, QString::number(f.pointFormat));
    add(listmsg::kFactRecord, FormatByteCount(f.recordLength));
    add(listmsg::kFactPoints, FormatCount(f.pointCount));
    add(listmsg::kFactByReturn, ByReturn(f.pointsByReturn));
    const char* axes[3] = {listmsg::kFactX, listmsg::kFactY, listmsg::kFactZ};
    for (int a = 0; a < 3; ++a)
        add(axes[a], Text(listmsg::kFactBounds)
                         .arg(FormatCoordinate(f.minimum[a], f.scale[a]), FormatCoordinate(f.maximum[a], f.scale[a])));
    add(listmsg::kFactScale, Triple(f.scale));
    add(listmsg::kFactOffset, Triple(f.offset));
    add(listmsg::kFactCreated, f.creationDay == 0 && f.creationYear == 0
                                   ? Text(listmsg::kFactNotGiven)
                                   : Text(listmsg::kFactCreatedOn).arg(f.creationDay).arg(f.creationYear));
    add(listmsg::kFactSystem, Shown(f.systemIdentifier));
    add(listmsg::kFactSoftware, Shown(f.generatingSoftware));
    add(listmsg::kFactSourceId, QString::number(f.fileSourceId));
    add(listmsg::kFactCrs, FormatCrs(f));
    for (const velmora::VlrInfo& v : f.vlrs) (v.extended ? t.evlrs : t.vlrs).push_back(RowOf(v));
    const QString vlrCount = QString::number(t.vlrs.size());
    add(listmsg::kFactVlrs, f.vlrsComplete ? vlrCount : Text(listmsg::kFactCutShort).arg(vlrCount));
    if (!t.evlrs.empty()) add(listmsg::kFactEvlrs, QString::number(t.evlrs.size()));
    return t;
}

QString PreviewCacheKey(const QString& path, const QString& entry, qint64 index) {
    const QFileInfo file(path);
    if (!file.exists()) return QString();
    return path + QLatin1Char('\n') + entry + QLatin1Char('\n') + QString::number(index) + QLatin1Char('\n') +
           QString::number(file.size()) + QLatin1Char('\n') +
           QString::number(file.lastModified().toMSecsSinceEpoch());
}

}  // namespace listview
