#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Tests entries of one archive: each is decoded in memory and checked
// against its length and checksum, and nothing is written. The caller sets
// archivePath and entryNames. The log says for each entry what was found,
// and the dialog stays open with the summary, whatever it found, until the
// user closes it.
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
    bool KeepsOpen() const override;
};
