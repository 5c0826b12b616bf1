#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Extracts entries of one archive into one folder. The caller sets
// archivePath, entryNames (or wholeArchive for every entry) and outputFolder
// (empty: the job asks for a folder before the first entry and keeps the
// choice for later runs).
class CDecompressDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CDecompressDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);
    ~CDecompressDialog() override { StopAndJoin(); }

    QString archivePath;
    QStringList entryNames;
    // Every entry of the archive, as its directory lists them.
    bool wholeArchive = false;
    QString outputFolder;

protected:
    void Work() override;
    void Report(const ItemResult& result) override;
};
