#include "listview/FindDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "listview/ListMessages.h"

FindDialog::FindDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(listmsg::kFindCaption));
    edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("findText"));
    matchCaseBox = new QCheckBox(QString::fromLatin1(listmsg::kMatchCase), this);
    matchCaseBox->setObjectName(QStringLiteral("matchCase"));
    lasBox = new QCheckBox(QString::fromLatin1(listmsg::kFindLas), this);
    lasBox->setObjectName(QStringLiteral("selectLas"));
    vmraBox = new QCheckBox(QString::fromLatin1(listmsg::kFindVmra), this);
    vmraBox->setObjectName(QStringLiteral("selectVmra"));
    matchCaseBox->setChecked(false);
    lasBox->setChecked(true);
    vmraBox->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &FindDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FindDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromLatin1(listmsg::kFindWhat), this));
    layout->addWidget(edit);
    layout->addWidget(matchCaseBox);
    layout->addWidget(new QLabel(QString::fromLatin1(listmsg::kExtensionsToSelect), this));
    layout->addWidget(lasBox);
    layout->addWidget(vmraBox);
    layout->addWidget(buttons);
    edit->setFocus();
}

int FindDialog::Filter() const { return (lasBox->isChecked() ? 1 : 0) + (vmraBox->isChecked() ? 2 : 0); }

bool FindDialog::MatchCase() const { return matchCaseBox->isChecked(); }

void FindDialog::accept() {
    findText = edit->text();
    QDialog::accept();
}
