#pragma once

#include <QStringList>

#include <vector>

#include "jobs/JobDialog.h"

// Adds a batch of LAS files to one archive. The caller gives the LAS paths
// with the names the dialog shows for them, and the archive (none: the job
// asks before the first file); afterwards the dialog tells which archive it
// was and whether the job made it.
class CCompressDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CCompressDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);

    // The proposed archive name for a LAS path: its extension replaced by
    // ".VMRA", or ".VMRA" appended when it has none.
    static QString ProposedArchiveName(const QString& lasPath);

    // displayNames runs parallel to lasPaths; lists of different lengths
    // are nothing to do.
    void SetFiles(const QStringList& lasPaths, const QStringList& displayNames);
    int FileCount() const { return static_cast<int>(lasPaths.size()); }
    void SetArchivePath(const QString& path) { archivePath = path; }
    // With its suffix once the job has run; empty when the chooser was
    // cancelled.
    QString ArchivePath() const { return archivePath; }
    bool ArchiveCreated() const { return Summary().createdArchive; }

protected:
    CJobRunner::Body Prepare() override;
    void Report(const velmora::ItemReport& result) override;
    QString ItemName(const velmora::ItemStart& item) const override;
    bool ConfirmReplace(const velmora::ItemStart& item) override;
    // The batch's ratio, not the last file's: refused and kept files add
    // nothing to it.
    QString FinalRatioText() const override;

private:
    QStringList lasPaths;
    QStringList displayNames;
    QString archivePath;
    // The display names of the files the job was given, by item index.
    QStringList shownNames;
    // The user agreed to replace the entry of the item in hand.
    bool replacing = false;
};
