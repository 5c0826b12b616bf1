#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

// Asks for a text and the kinds of files to select. The flags follow the
// check boxes; OK takes the edit box's text into findText.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindDialog(QWidget* parent = nullptr);

    // Extension filter for SelectMatching: 1 LAS, 2 VMRA, 3 both, 0 neither.
    int Filter() const { return (selectLas ? 1 : 0) + (selectVmra ? 2 : 0); }

    QString findText;
    QLineEdit* edit = nullptr;
    QCheckBox* vmraBox = nullptr;
    QCheckBox* lasBox = nullptr;
    QCheckBox* matchCaseBox = nullptr;
    bool selectLas = true;
    bool selectVmra = true;
    bool matchCase = false;

    void accept() override;
};
