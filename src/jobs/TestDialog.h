#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Tests entries of one archive: each is decoded in memory and checked
// against its length and checksum, and nothing is written. The caller sets
// archivePath and entryNames. The log says for each entry what was found;
// the dialog stays open with a summary when anything was damaged or could
// not be tested.
class CTestDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CTestDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);
    ~CTestDialog() override { StopAndJoin(); }

    QString archivePath;
    QStringList entryNames;

protected:
    void Work() override;
    void Report(const ItemResult& result) override;
};
