#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Tests entries of one archive: each is decoded in memory and checked
// against its length and checksum, and nothing is written. The caller gives
// the archive and the entries. The log says for each entry what was found,
// and the dialog stays open with the summary, whatever it found, until the
// user closes it.
class CTestDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CTestDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);

    void SetArchivePath(const QString& path) { archivePath = path; }
    void SetEntries(const QStringList& names) { entryNames = names; }

protected:
    CJobRunner::Body Prepare() override;
    void Report(const velmora::ItemReport& result) override;
    bool KeepsOpen() const override;

private:
    QString archivePath;
    QStringList entryNames;
};
