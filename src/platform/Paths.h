#pragma once

#include <QString>
#include <QStringList>

#include <string>

// Path and name helpers of the window. Nothing else in the window splits a
// path by hand, so the separator rules live in exactly one place.
namespace platform {

// The separator this platform writes; on Windows both '\' and '/' are read.
QChar Separator();
bool IsSeparator(QChar c);

// Text after the last separator (the whole path when it has none).
QString FileNamePart(const QString& path);
// The path up to and including its last separator; empty when it has none.
QString FolderPart(const QString& path);
QString WithTrailingSeparator(const QString& path);
// Removes one trailing separator, except from a root ("/").
QString WithoutTrailingSeparator(const QString& path);
// Components between separators; empty components are skipped.
QStringList SplitPath(const QString& path);
// Joins a folder (with or without a trailing separator) and a name.
QString JoinPath(const QString& folder, const QString& name);

// The text after the last "." of the path, without the dot, as written;
// empty when the path has no ".".
QString ExtensionOf(const QString& path);

// The last ext.size() characters of name equal ext, ignoring case.
bool HasSuffixNoCase(const QString& name, const QString& ext);
// The first occurrence of ext (lower case) in the lower-cased name ends the
// name; with notAtStart an occurrence at index 0 does not count. So
// "a.las.las" does not pass for ".las", and ".vmra" alone is no archive name.
bool HasTrailingExtension(const QString& name, const QString& ext, bool notAtStart = false);

// The core takes UTF-8 paths.
std::string ToCore(const QString& s);
QString FromCore(const std::string& s);
QString FromCore(const char* s);

}  // namespace platform
