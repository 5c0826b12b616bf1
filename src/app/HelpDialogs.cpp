#include "app/HelpDialogs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "app/AppMessages.h"
#include "platform/Icons.h"
#include "platform/PlatformUi.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(appmsg::kAboutCaption));
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(appicons::Picture(QStringLiteral("logo"), 112));
    auto* text = new QLabel(this);
    text->setText(QStringLiteral(
        "<b>Velmora for LAS 1.2</b><br>Version %1<br><br>"
        "Lossless compression of airborne LAS point clouds<br>"
        "(LAS 1.0 to 1.4, point data formats 0 to 10)<br>"
        "into .VMRA archives.<br><br>Built with Qt %2.")
                      .arg(QStringLiteral(VELMORA_VERSION), QString::fromLatin1(qVersion())));
    auto* ok = new QPushButton(QString::fromLatin1(appmsg::kOk), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
}

CContactsDialog::CContactsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(appmsg::kContactsCaption));
    auto* text = new QLabel(this);
    text->setText(QStringLiteral(
        "<b>Velmora</b><br>Point cloud compression<br><br>"
        "Questions, bug reports and ideas are welcome<br>"
        "through the project's issue tracker.<br><br>"
        "Please include the program version (see About)<br>"
        "and, where you can, a small LAS file that shows the problem."));
    auto* close = new QPushButton(QString::fromLatin1(appmsg::kClose), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);
}

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QString::fromLatin1(appmsg::kHelpCaption));
    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("helpPage"));
    // Links to the web stay out: the window is for the bundled pages.
    browser->setOpenExternalLinks(false);
    auto* close = new QPushButton(QString::fromLatin1(appmsg::kClose), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser, 1);
    layout->addLayout(buttons);
    resize(640, 560);
}

void CHelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CHelpWindow::ShowPage(const QString& page, const QString& programFolder) {
    const QString installed = help::InstalledPage(programFolder, page);
    if (!installed.isEmpty()) {
        browser->setSource(QUrl::fromLocalFile(installed));
        return;
    }
    appicons::EnsureResources();
    browser->setSource(QUrl(QStringLiteral("qrc:/velmora/help/") + page));
}

namespace help {

QString InstalledPage(const QString& programFolder, const QString& page) {
    if (programFolder.isEmpty()) return QString();
    // The layout of an installation: the program in <prefix>/bin, its
    // documents in <prefix>/share/doc/velmora.
    const QString path =
        QDir::cleanPath(programFolder + QStringLiteral("/../share/doc/velmora/") + page);
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() ? path : QString();
}

QUrl LocalPageUrl(const QString& page) {
    // The browser needs a real file; the pages live in the program's
    // resources so they work offline and cannot go missing.
#ifdef Q_OS_UNIX
    const QString owner = QString::number(getuid());
#else
    const QString owner = qEnvironmentVariable("USERNAME");
#endif
    const QString folder = QDir::temp().filePath(QStringLiteral("velmora-help-") + owner);
    if (!QDir().mkpath(folder)) return QUrl();
    appicons::EnsureResources();
    for (const char* name : {kIndexPage, kTutorialPage}) {
        const QString target = QDir(folder).filePath(QString::fromLatin1(name));
        QFile source(QStringLiteral(":/velmora/help/%1").arg(QString::fromLatin1(name)));
        if (!source.open(QIODevice::ReadOnly)) return QUrl();
        const QByteArray bytes = source.readAll();
        QFile existing(target);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) continue;
        existing.close();
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
            return QUrl();
    }
    return QUrl::fromLocalFile(QDir(folder).filePath(page));
}

bool OpenInBrowser(platform::IPlatformUi& ui, const QString& page, const QString& programFolder) {
    const QString installed = InstalledPage(programFolder, page);
    const QUrl url = installed.isEmpty() ? LocalPageUrl(page) : QUrl::fromLocalFile(installed);
    return !url.isEmpty() && ui.OpenUrl(url);
}

}  // namespace help
