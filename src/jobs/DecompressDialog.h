#pragma once

#include <QStringList>

#include "jobs/JobDialog.h"

// Extracts a list of entries of one archive into one folder. The caller sets
// archivePath, entryNames and outputFolder (empty: the job asks for a folder
// before the first entry and keeps the choice for later runs).
class CDecompressDialog : public CJobDialog {
    Q_OBJECT
public:
    explicit CDecompressDialog(platform::IPlatformUi& ui, QWidget* parent = nullptr);
    ~CDecompressDialog() override { StopAndJoin(); }

    QString archivePath;
    QStringList entryNames;
    QString outputFolder;

protected:
    void Work() override;
    void RequestStop() override;

private:
    void ExtractOne(const QString& name);
};
