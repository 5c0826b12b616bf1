#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// Asks for the name of a new archive.
class NewDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewDialog(const QString& initialName, QWidget* parent = nullptr);

    // The name typed, once OK was pressed; the initial one before.
    QString NewName() const { return newName; }

    void accept() override;

private:
    QString newName;
    QLineEdit* edit = nullptr;
};

// The file name a typed name becomes: ".VMRA" is appended unless ".vmra"
// (any case) already ends it, first occurrence counted.
QString NewArchiveFileName(const QString& typed);
