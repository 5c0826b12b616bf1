#pragma once

#include <QStringList>

#include <vector>

#include "jobs/JobDialog.h"

// Adds a batch of LAS files to one archive. The caller fills lasPaths and the
// parallel displayNames, and archivePath (empty: the job asks before the
// first file); archiveCreated tells afterwards whether the job made the
// archive.
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
    void Report(const ItemResult& result) override;
    QString ItemName(const JobItem& item) const override;
    bool ConfirmReplace(const JobItem& item) override;
    // The batch's ratio, not the last file's: refused and kept files add
    // nothing to it.
    QString FinalRatioText() const override;

private:
    // The display names of the files the job was given, by item index.
    QStringList shownNames;
    // The user agreed to replace the entry of the item in hand.
    bool replacing = false;
};
