#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Extracts entries of one archive into one folder. The caller gives the
// archive, the entries (or every entry of it) and the folder (none: the job
// asks for one before the first entry and keeps the choice for later runs).
class CDecompressDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CDecompressDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);

    void SetArchivePath(const QString& path) { archivePath = path; }
    QString ArchivePath() const { return archivePath; }
    void SetEntries(const QStringList& names) { entryNames = names; }
    // Every entry of the archive, as its directory lists them.
    void SetWholeArchive(bool whole) { wholeArchive = whole; }
    void SetOutputFolder(const QString& folder) { outputFolder = folder; }
    // With a trailing separator once chosen; empty while none was.
    QString OutputFolder() const { return outputFolder; }

protected:
    CJobRunner::Body Prepare() override;
    void Report(const velmora::ItemReport& result) override;

private:
    QString archivePath;
    QStringList entryNames;
    bool wholeArchive = false;
    QString outputFolder;
};
