#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// Asks for the name of a new archive.
class NewDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewDialog(const QString& initialName, QWidget* parent = nullptr);

    QString newName;
    QLineEdit* edit = nullptr;

    void accept() override;
};

// The file name a typed name becomes: ".VMRA" is appended unless ".vmra"
// (any case) already ends it, first occurrence counted.
QString NewArchiveFileName(const QString& typed);
