// Renders the main window offscreen into PNG files, so its look can be
// checked without a display: velmora-screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "LasGenerator.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "listview/RightView.h"
#include "platform/Mounts.h"
#include "platform/PlatformUi.h"

namespace {

// Nobody is there to answer: messages are printed, questions get Cancel.
class CUnattendedUi : public platform::IPlatformUi {
public:
    platform::MsgResult MessageBox(QWidget*, const QString& text, const QString&,
                                   platform::MsgButtons, platform::MsgIcon) override {
        std::printf("message: %s\n", qPrintable(text));
        return platform::MsgResult::Cancel;
    }
    QString OpenFileName(QWidget*, const QString&) override { return {}; }
    QString SaveFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString BrowseFolder(QWidget*) override { return {}; }
    bool OpenUrl(const QUrl&) override { return false; }
    int RunDialog(QDialog&) override { return 0; }
};

bool Save(QWidget& w, const QString& folder, const char* name) {
    QTest::qWait(50);
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    // Never read or write the user's own settings.
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    CUnattendedUi ui;
    platform::SetUi(&ui);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir data;
    const QString root = data.path() + QStringLiteral("/Survey 2026");
    QDir().mkpath(root + QStringLiteral("/Flight lines"));
    QDir().mkpath(root + QStringLiteral("/Ground control"));
    QDir().mkpath(root + QStringLiteral("/Reports"));
    const struct { const char* name; uint64_t points; int format; } files[] = {
        {"strip_001.las", 60000, 1}, {"strip_002.las", 45000, 3}, {"strip_003.las", 80000, 0},
        {"tile_4711.LAS", 20000, 2}};
    for (const auto& f : files) {
        LasGenOptions o;
        o.points = f.points;
        o.format = f.format;
        GenerateLasFile((root + QLatin1Char('/') + QString::fromLatin1(f.name)).toStdString(), o);
    }
    QFile empty(root + QStringLiteral("/new_survey.vmra"));
    empty.open(QIODevice::WriteOnly);
    empty.close();

    std::vector<platform::MountPoint> places{
        {QStringLiteral("/"), QStringLiteral("File System"), platform::MountKind::Root},
        {data.path() + QLatin1Char('/'), QStringLiteral("Project data"), platform::MountKind::Fixed}};
    CMainFrame frame(&places);
    frame.resize(960, 600);
    frame.ActivateFrame();
    frame.resize(960, 600);
    CRightView* list = frame.RightView();

    bool ok = true;
    list->SetType(listview::kDetails);
    frame.UpdateCommandUi();
    frame.LeftView()->SelectPath(root);
    list->SetItemSelected(2, true);
    ok &= Save(frame, out, "folder-details.png");

    list->SetType(listview::kLargeIcons);
    frame.UpdateCommandUi();
    ok &= Save(frame, out, "folder-large-icons.png");

    list->SetType(listview::kDetails);
    frame.UpdateCommandUi();
    frame.LeftView()->SelectPath(root + QStringLiteral("/new_survey.vmra"));
    ok &= Save(frame, out, "archive-details.png");
    return ok ? 0 : 1;
}
