#include "platform/Settings.h"

#include <QSettings>

#include <cstdlib>
#include <limits>

namespace platform {

namespace {

int32_t Saturate(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Widest column the list accepts; larger stored values are damage.
constexpr int kMaxColumnWidth = 8192;

}  // namespace

int32_t WindowPlacement::Width() const {
    return Saturate(std::llabs(static_cast<int64_t>(right) - left));
}

int32_t WindowPlacement::Height() const {
    return Saturate(std::llabs(static_cast<int64_t>(bottom) - top));
}

int ScanNumbers(const QString& text, int64_t* out, int max, bool unsignedValues) {
    const QByteArray bytes = text.toUtf8();
    const char* s = bytes.constData();
    int count = 0;
    while (count < max) {
        if (count > 0) {
            if (*s != ',') break;
            ++s;
        }
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\v' || *s == '\f') ++s;
        bool negative = false;
        if (*s == '+' || *s == '-') {
            negative = *s == '-';
            ++s;
        }
        if (*s < '0' || *s > '9') break;
        int64_t v = 0;
        bool overflow = false;
        while (*s >= '0' && *s <= '9') {
            // Past 2^32 the value is out of every range scanned here; stop
            // growing it so the arithmetic itself cannot overflow.
            if (!overflow) v = v * 10 + (*s - '0');
            if (v > (int64_t{1} << 32)) overflow = true;
            ++s;
        }
        if (negative) v = -v;
        if (overflow) break;
        if (unsignedValues ? (v < 0 || v > std::numeric_limits<uint32_t>::max())
                           : (v < std::numeric_limits<int32_t>::min() ||
                              v > std::numeric_limits<int32_t>::max()))
            break;
        out[count++] = v;
    }
    return count;
}

QString FormatPlacement(const WindowPlacement& p) {
    return QString::asprintf("%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", p.flags, p.showCmd, p.minX, p.minY,
                             p.maxX, p.maxY, p.left, p.top, p.right, p.bottom);
}

bool ParsePlacement(const QString& text, WindowPlacement* p) {
    int64_t v[10];
    // The first two are unsigned, the rest signed: scan them in two runs.
    if (ScanNumbers(text, v, 2, true) != 2) return false;
    const qsizetype secondComma = text.indexOf(QLatin1Char(','), text.indexOf(QLatin1Char(',')) + 1);
    if (secondComma < 0) return false;
    if (ScanNumbers(text.mid(secondComma + 1), v + 2, 8, false) != 8) return false;
    p->flags = static_cast<uint32_t>(v[0]);
    p->showCmd = static_cast<uint32_t>(v[1]);
    p->minX = static_cast<int32_t>(v[2]);
    p->minY = static_cast<int32_t>(v[3]);
    p->maxX = static_cast<int32_t>(v[4]);
    p->maxY = static_cast<int32_t>(v[5]);
    p->left = static_cast<int32_t>(v[6]);
    p->top = static_cast<int32_t>(v[7]);
    p->right = static_cast<int32_t>(v[8]);
    p->bottom = static_cast<int32_t>(v[9]);
    return true;
}

QString FormatStyle(int32_t style) { return QString::asprintf("%d", style); }

bool ParseStyle(const QString& text, int32_t* style) {
    int64_t v = 0;
    if (ScanNumbers(text, &v, 1, false) != 1) return false;
    *style = static_cast<int32_t>(v);
    return true;
}

QString FormatFlag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

bool ParseFlag(const QString& text, bool* on) {
    int64_t v = 0;
    if (ScanNumbers(text, &v, 1, false) != 1) return false;
    *on = v != 0;
    return true;
}

QString FormatMask(uint32_t mask) { return QString::asprintf("%u", mask); }

bool ParseMask(const QString& text, uint32_t* mask) {
    int64_t v = 0;
    if (ScanNumbers(text, &v, 1, true) != 1) return false;
    *mask = static_cast<uint32_t>(v);
    return true;
}

QString FormatWidths(const int* widths, int n) {
    QString s;
    for (int i = 0; i < n; ++i) {
        if (i) s += QLatin1String(", ");
        s += QString::number(widths[i]);
    }
    return s;
}

int ParseWidths(const QString& text, int* widths, int n) {
    if (text.isEmpty() || n <= 0) return 0;
    int64_t v[8];
    const int read = ScanNumbers(text, v, n < 8 ? n : 8, false);
    int taken = 0;
    for (; taken < read; ++taken) {
        if (v[taken] < 0 || v[taken] > kMaxColumnWidth) break;
        widths[taken] = static_cast<int>(v[taken]);
    }
    return taken;
}

QString CSettingsStore::Read(const QString& name) {
    QSettings s(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    s.beginGroup(QString::fromLatin1(kGroup));
    const QVariant v = s.value(name);
    return v.canConvert<QString>() ? v.toString() : QString();
}

void CSettingsStore::Write(const QString& name, const QString& value) {
    QSettings s(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    s.beginGroup(QString::fromLatin1(kGroup));
    s.setValue(name, value);
}

QStringList CSettingsStore::ReadRecentFiles() {
    QSettings s(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    s.beginGroup(QString::fromLatin1(kRecentGroup));
    QStringList files;
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString f = s.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty()) files << f;
    }
    return files;
}

void CSettingsStore::WriteRecentFiles(const QStringList& files) {
    QSettings s(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    s.beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= files.size())
            s.setValue(key, files[i - 1]);
        else
            s.remove(key);
    }
}

}  // namespace platform
