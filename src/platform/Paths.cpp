#include "platform/Paths.h"

namespace platform {

QChar Separator() {
#ifdef Q_OS_WIN
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

bool IsSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
#else
    return c == QLatin1Char('/');
#endif
}

static qsizetype LastSeparator(const QString& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (IsSeparator(path[i])) return i;
    return -1;
}

QString FileNamePart(const QString& path) {
    return path.mid(LastSeparator(path) + 1);
}

QString FolderPart(const QString& path) {
    const qsizetype i = LastSeparator(path);
    return i < 0 ? QString() : path.left(i + 1);
}

QString WithTrailingSeparator(const QString& path) {
    if (!path.isEmpty() && IsSeparator(path.back())) return path;
    return path + Separator();
}

QString WithoutTrailingSeparator(const QString& path) {
    if (path.size() > 1 && IsSeparator(path.back())) return path.left(path.size() - 1);
    return path;
}

QStringList SplitPath(const QString& path) {
    QStringList parts;
    QString cur;
    for (QChar c : path) {
        if (IsSeparator(c)) {
            if (!cur.isEmpty()) parts << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.isEmpty()) parts << cur;
    return parts;
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return name;
    return WithTrailingSeparator(folder) + name;
}

QString ExtensionOf(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : path.mid(dot + 1);
}

bool HasSuffixNoCase(const QString& name, const QString& ext) {
    if (name.size() < ext.size()) return false;
    return name.right(ext.size()).compare(ext, Qt::CaseInsensitive) == 0;
}

bool HasTrailingExtension(const QString& name, const QString& ext, bool notAtStart) {
    const QString lower = name.toLower();
    const qsizetype at = lower.indexOf(ext.toLower());
    if (at < 0 || (notAtStart && at == 0)) return false;
    return at + ext.size() == lower.size();
}

std::string ToCore(const QString& s) { return s.toStdString(); }
QString FromCore(const std::string& s) { return QString::fromStdString(s); }
QString FromCore(const char* s) { return QString::fromUtf8(s ? s : ""); }

}  // namespace platform
