#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

// Asks for a text and the kinds of files to select. The flags are the check
// boxes'; OK takes the edit box's text as the text to find.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindDialog(QWidget* parent = nullptr);

    // Extension filter for SelectMatching: 1 LAS, 2 VMRA, 3 both, 0 neither.
    int Filter() const;
    bool MatchCase() const;
    // What was typed, once OK was pressed.
    QString FindText() const { return findText; }

    void accept() override;

private:
    QString findText;
    QLineEdit* edit = nullptr;
    QCheckBox* vmraBox = nullptr;
    QCheckBox* lasBox = nullptr;
    QCheckBox* matchCaseBox = nullptr;
};
