#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Adds a batch of LAS files to one archive. The caller fills lasPaths and the
// parallel displayNames, and archivePath (empty: the job asks at the first
// file); archiveCreated tells afterwards whether the job made the archive.
class CCompressDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CCompressDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);
    ~CCompressDialog() override { StopAndJoin(); }

    // The proposed archive name for a LAS path: its extension replaced by
    // ".VMRA", or ".VMRA" appended when it has none.
    static QString ProposedArchiveName(const QString& lasPath);

    QStringList lasPaths;
    QStringList displayNames;
    QString archivePath;
    bool archiveCreated = false;

protected:
    void Work() override;
    void RequestStop() override;

private:
    // False when the job is to end here (the user cancelled the archive).
    bool ProcessFile(const QString& lasPath, const QString& name);
};
