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
    matchCaseBox = new QCheckBox(QString::fromLatin1(listmsg::kMatchCase), this);
    lasBox = new QCheckBox(QString::fromLatin1(listmsg::kFindLas), this);
    vmraBox = new QCheckBox(QString::fromLatin1(listmsg::kFindVmra), this);
    matchCaseBox->setChecked(false);
    lasBox->setChecked(true);
    vmraBox->setChecked(true);
    connect(matchCaseBox, &QCheckBox::toggled, this, [this](bool on) { matchCase = on; });
    connect(lasBox, &QCheckBox::toggled, this, [this](bool on) { selectLas = on; });
    connect(vmraBox, &QCheckBox::toggled, this, [this](bool on) { selectVmra = on; });
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

void FindDialog::accept() {
    findText = edit->text();
    QDialog::accept();
}
