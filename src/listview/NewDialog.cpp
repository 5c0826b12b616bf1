#include "listview/NewDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "listview/ListMessages.h"
#include "platform/Paths.h"

NewDialog::NewDialog(const QString& initialName, QWidget* parent) : QDialog(parent), newName(initialName) {
    setWindowTitle(QString::fromLatin1(listmsg::kNewCaption));
    edit = new QLineEdit(initialName, this);
    edit->setObjectName(QStringLiteral("name"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &NewDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NewDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromLatin1(listmsg::kNewFileName), this));
    layout->addWidget(edit);
    layout->addWidget(buttons);
    edit->setFocus();
    edit->selectAll();
}

void NewDialog::accept() {
    newName = edit->text();
    QDialog::accept();
}

QString NewArchiveFileName(const QString& typed) {
    if (platform::HasTrailingExtension(typed, QStringLiteral(".vmra"))) return typed;
    return typed + QStringLiteral(".VMRA");
}
