// Renders the main window offscreen into PNG files, so its look can be
// checked without a display: velmora-screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QCursor>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>

#include "LasGenerator.h"
#include "app/LeftView.h"
#include "archive/VMRAFile.h"
#include "jobs/CompressDialog.h"
#include "jobs/TestDialog.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "listview/DetailsPane.h"
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
    void CloseMessageBoxes(QWidget*) override {}
    void ShowWindow(QWidget& window) override { window.show(); }
    // Nobody drags: every drag ends where nothing takes it.
    Qt::DropAction RunDrag(QDrag& drag, Qt::DropActions) override {
        drag.deleteLater();
        return Qt::IgnoreAction;
    }
    // A dialog left open at the end of its job is photographed, then closed.
    void KeepOpen(QDialog& dialog) override {
        if (onKeepOpen) onKeepOpen(dialog);
        dialog.accept();
    }
    std::function<void(QDialog&)> onKeepOpen;
};

// A name longer than the list's name column.
const char* const kLongName = "block_17_flight_line_0042_north_strip.las";

bool SavePixmap(const QPixmap& shot, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool Save(QWidget& w, const QString& folder, const char* name) {
    QTest::qWait(50);
    return SavePixmap(w.grab(), folder, name);
}

// Pop-ups (menus, tool tips) are windows of their own: they are drawn onto
// the shot of the window where the user would see them.
void PaintOver(QPixmap& shot, const QWidget& window, QWidget& popup) {
    QPainter painter(&shot);
    painter.drawPixmap(window.mapFromGlobal(popup.mapToGlobal(QPoint(0, 0))), popup.grab());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    // Never read or write the user's own settings.
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    CUnattendedUi ui;
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
    const struct { const char* name; uint64_t points; int format; int minor; } files[] = {
        {"strip_001.las", 60000, 1, 2}, {"strip_002.las", 45000, 3, 2}, {"strip_003.las", 80000, 0, 2},
        {"tile_4711.LAS", 20000, 2, 2}, {kLongName, 30000, 1, 2}, {"waveform_13.las", 5000, 1, 3}};
    for (const auto& f : files) {
        LasGenOptions o;
        o.points = f.points;
        o.format = f.format;
        o.versionMinor = f.minor;
        GenerateLasFile((root + QLatin1Char('/') + QString::fromLatin1(f.name)).toStdString(), o);
    }
    {
        // A real archive, made by the archive code from the files above.
        VMRAFile archive;
        for (const char* f : {"strip_001.las", "strip_002.las", "tile_4711.LAS", kLongName})
            archive.AddLasFile((root + QLatin1Char('/') + QString::fromLatin1(f)).toStdString(),
                               (root + QStringLiteral("/survey.vmra")).toStdString());
    }
    // A LAS file cut short, as a copy broken off half way leaves it: the
    // compression refuses it.
    const QString cutLas = root + QStringLiteral("/strip_004.las");
    QFile::copy(root + QStringLiteral("/strip_003.las"), cutLas);
    QFile(cutLas).resize(QFileInfo(cutLas).size() / 2);
    const QString bigLas = data.path() + QStringLiteral("/Survey 2026/Flight lines/block_17.las");
    {
        LasGenOptions o;
        o.points = 4000000;
        o.format = 3;
        GenerateLasFile(bigLas.toStdString(), o);
    }

    std::vector<platform::MountPoint> places{
        {QStringLiteral("/"), QStringLiteral("File System"), platform::MountKind::Root},
        {data.path() + QLatin1Char('/'), QStringLiteral("Project data"), platform::MountKind::Fixed}};
    CMainFrame frame(ui, &places);
    frame.resize(960, 600);
    frame.ActivateFrame();
    frame.resize(960, 600);
    CRightView* list = frame.RightView();

    bool ok = true;
    list->SetType(listview::kDetails);
    // As a user would have it: the list active, the name column widened.
    frame.activateWindow();
    (void)QTest::qWaitForWindowActive(&frame);
    list->setFocus();
    list->SetWidth(false, 0, 170);
    list->SetWidth(true, 0, 170);
    list->ApplyColumnWidths();
    frame.LeftView()->SelectPath(root);
    list->SetItemSelected(2, true);
    list->UpdateCommandFlags();
    ok &= Save(frame, out, "folder-details.png");

    list->SetType(listview::kLargeIcons);
    frame.UpdateCommandUi();
    ok &= Save(frame, out, "folder-large-icons.png");

    list->SetType(listview::kDetails);
    frame.UpdateCommandUi();
    frame.LeftView()->SelectPath(root + QStringLiteral("/survey.vmra"));
    ok &= Save(frame, out, "archive-details.png");

    // The details pane beside the archive's entries: the facts of the one
    // selected and its points from above, once read; by elevation, then in
    // the points' own colours.
    {
        frame.Action(cmd::kDetailsPane)->setChecked(true);
        frame.resize(1280, 720);
        const struct {
            const char* entry;
            const char* shot;
        } shown[] = {{"strip_001.las", "details-pane.png"}, {"strip_002.las", "details-pane-colours.png"}};
        for (const auto& s : shown) {
            list->DeselectAll();
            for (int r = 1; r < list->ItemCount(); ++r)
                if (list->ItemText(r) == QString::fromLatin1(s.entry)) list->SetItemSelected(r, true);
            list->UpdateCommandFlags();
            CDetailsPane* pane = frame.DetailsPane();
            const bool read = QTest::qWaitFor([pane] { return !pane->CurrentRun() && pane->Workers() == 0; }, 20000);
            if (!read || pane->Picture().isNull()) {
                std::printf("FAILED the details pane showed no picture of %s: %s\n", s.entry,
                            qPrintable(pane->Message()));
                ok = false;
            }
            ok &= Save(frame, out, s.shot);
        }
        frame.Action(cmd::kDetailsPane)->setChecked(false);
        frame.resize(960, 600);
        list->DeselectAll();
    }

    // The context menu of a selected entry, drawn where it would pop up.
    frame.SetListActive(true);
    list->SetItemSelected(1, true);
    list->SetItemSelected(2, true);
    list->UpdateCommandFlags();
    {
        std::unique_ptr<QMenu> menu(list->BuildContextMenu());
        const QWidget* view = list->ActiveView();
        menu->popup(view->mapToGlobal(QPoint(120, 52)));
        QTest::qWait(50);
        QPixmap shot = frame.grab();
        PaintOver(shot, frame, *menu);
        ok &= SavePixmap(shot, out, "context-menu.png");
        menu->hide();
    }

    // The archive's entries with the tool tip over a name its column cuts off.
    list->DeselectAll();
    {
        auto* view = list->DetailsView();
        int row = -1;
        for (int r = 0; r < list->ItemCount(); ++r)
            if (list->ItemText(r) == QString::fromLatin1(kLongName)) row = r;
        const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
        QCursor::setPos(view->viewport()->mapToGlobal(at));
        QHelpEvent hover(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &hover);
        QTest::qWait(50);
        QWidget* tip = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible()) tip = w;
        if (row < 0 || !tip) {
            std::printf("FAILED no tool tip over the cut-off name\n");
            ok = false;
        } else {
            QPixmap shot = frame.grab();
            PaintOver(shot, frame, *tip);
            ok &= SavePixmap(shot, out, "archive-name-tooltip.png");
        }
        QToolTip::hideText();
    }

    // The compression dialog at the end of a job that refused a file: it
    // stays open with its log and the summary.
    {
        CCompressDialog job(ui, &frame);
        job.SetArchivePath(root + QStringLiteral("/Reports/flights.vmra"));
        QStringList paths, names;
        for (const char* name : {"strip_003.las", "strip_004.las", "strip_001.las"}) {
            paths << root + QLatin1Char('/') + QString::fromLatin1(name);
            names << QString::fromLatin1(name);
        }
        job.SetFiles(paths, names);
        bool taken = false;
        ui.onKeepOpen = [&](QDialog& dialog) {
            taken = true;
            ok &= Save(dialog, out, "job-summary.png");
        };
        job.exec();
        ui.onKeepOpen = nullptr;
        if (!taken) {
            std::printf("FAILED the job closed without its summary\n");
            ok = false;
        }
    }

    // The test of an archive's entries, one of them damaged: the dialog
    // stays open with what it found for each.
    {
        const QString checked = root + QStringLiteral("/Reports/checked.vmra");
        VMRAFile archive;
        for (const char* f : {"strip_001.las", "strip_002.las", "tile_4711.LAS"})
            archive.AddLasFile((root + QLatin1Char('/') + QString::fromLatin1(f)).toStdString(),
                               checked.toStdString());
        // Bytes changed in the middle of the second entry's data, as a bad
        // disk sector would.
        const EntryRecord r = archive.ReadDirectoryOf(checked.toStdString())[1];
        QFile file(checked);
        if (file.open(QIODevice::ReadWrite) && file.seek(r.dataOffset + r.storedSize / 2)) {
            const QByteArray junk(64, '\x5a');
            file.write(junk);
        }
        file.close();
        CTestDialog job(ui, &frame);
        job.SetArchivePath(checked);
        job.SetEntries({QStringLiteral("strip_001.las"), QStringLiteral("strip_002.las"), QStringLiteral("tile_4711.LAS")});
        bool taken = false;
        ui.onKeepOpen = [&](QDialog& dialog) {
            taken = true;
            ok &= Save(dialog, out, "test-damaged.png");
        };
        job.exec();
        ui.onKeepOpen = nullptr;
        if (!taken) {
            std::printf("FAILED the test closed without showing the damage\n");
            ok = false;
        }
    }

    // The end of a batch into an archive that already holds one of the
    // files: the replacement is declined (nobody is there to say yes), the
    // log says the entry was kept, and the summary shows the batch's ratio.
    {
        CCompressDialog job(ui, &frame);
        job.SetArchivePath(root + QStringLiteral("/survey.vmra"));
        QStringList paths, names;
        for (const char* name : {"strip_001.las", "strip_003.las", "strip_004.las"}) {
            paths << root + QLatin1Char('/') + QString::fromLatin1(name);
            names << QString::fromLatin1(name);
        }
        job.SetFiles(paths, names);
        bool taken = false;
        ui.onKeepOpen = [&](QDialog& dialog) {
            taken = true;
            ok &= Save(dialog, out, "compress-declined.png");
        };
        job.exec();
        ui.onKeepOpen = nullptr;
        if (!taken || !job.LogLines().contains(QStringLiteral("Compressing file strip_001.las: kept"))) {
            std::printf("FAILED the batch did not end with the declined file kept\n");
            ok = false;
        }
    }

    // A test of a sound archive: the dialog stays open with its verdict.
    {
        CTestDialog job(ui, &frame);
        job.SetArchivePath(root + QStringLiteral("/survey.vmra"));
        QStringList entries;
        for (const char* f : {"strip_001.las", "strip_002.las", "strip_003.las", "tile_4711.LAS", kLongName})
            entries << QString::fromLatin1(f);
        job.SetEntries(entries);
        bool taken = false;
        ui.onKeepOpen = [&](QDialog& dialog) {
            taken = true;
            ok &= Save(dialog, out, "test-passed.png");
        };
        job.exec();
        ui.onKeepOpen = nullptr;
        if (!taken) {
            std::printf("FAILED the test of a sound archive closed without its verdict\n");
            ok = false;
        }
    }

    // The compression dialog in the middle of a job.
    {
        CCompressDialog job(ui, &frame);
        job.SetArchivePath(root + QStringLiteral("/survey.vmra"));
        job.SetFiles({bigLas, root + QStringLiteral("/strip_003.las")},
                     {QStringLiteral("block_17.las"), QStringLiteral("strip_003.las")});
        bool taken = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &job, [&] {
            if (taken || job.Progress() < 60) return;
            taken = true;
            ok &= Save(job, out, "compress-dialog.png");
        });
        poll.start();
        job.exec();
        if (!taken) {
            std::printf("FAILED the job ended before its dialog was captured\n");
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
