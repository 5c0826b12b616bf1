// The commands of the file list: selection, adding, deleting, extracting,
// dropped files, entries dragged out, Enter and double click, Find and New.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>
#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#include "jobs/CompressDialog.h"
#include "jobs/DecompressDialog.h"
#include "jobs/JobReport.h"
#include "jobs/TestDialog.h"
#include "listview/ArchiveListing.h"
#include "listview/DeleteDlg.h"
#include "listview/FindDialog.h"
#include "listview/FolderTree.h"
#include "listview/ListMessages.h"
#include "listview/NewDialog.h"
#include "listview/RightView.h"
#include "platform/Paths.h"
#include "platform/PlatformUi.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {
const QString kLas = QStringLiteral(".las");
const QString kVmra = QStringLiteral(".vmra");

// A name or path as a box shows it: what could steer the box escaped.
QString Shown(const QString& name) { return platform::FromCore(velmora::EscapeName(platform::ToCore(name))); }

// Removes a file; 0, or the system's reason why not.
int RemoveFile(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
}

// Files from outside, not this list's own entries on their way out: dropped
// back, they would only be offered to the archive they came from.
bool TakesDrop(const QMimeData* data) {
    return data->hasUrls() && !data->hasFormat(QString::fromLatin1(CRightView::kDraggedEntriesFormat));
}
}  // namespace

void CRightView::dragEnterEvent(QDragEnterEvent* event) {
    if (TakesDrop(event->mimeData())) event->acceptProposedAction();
}

void CRightView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CRightView::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    event->acceptProposedAction();
    // Not inside the drop: the job dialog that follows is modal.
    QMetaObject::invokeMethod(this, [this, paths] { DropFiles(paths); }, Qt::QueuedConnection);
}

bool CRightView::eventFilter(QObject* watched, QEvent* event) {
    const bool onView = watched == details || watched == icons;
    const bool onViewport = watched == details->viewport() || watched == icons->viewport();
    if (onViewport && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // Queued, so the view has moved the selection first.
        QMetaObject::invokeMethod(this, [this] { UpdateCommandFlags(); }, Qt::QueuedConnection);
    }
    if (onView && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Backspace && k->modifiers() == Qt::NoModifier) {
            GoUp();
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            // ".." keeps the focus (never the selection) after a click on it.
            if (CurrentRow() == 0)
                GoUp();
            else if (SelectedNames().size() == 1 && !IsItemSelected(0))
                OnEnter();
        }
    }
    if (onView && event->type() == QEvent::KeyRelease) OnKeyRelease();
    if (onViewport && FollowDragGesture(static_cast<QWidget*>(watched), event)) return true;
    return QWidget::eventFilter(watched, event);
}

bool CRightView::FollowDragGesture(QWidget* viewport, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    if (type == QEvent::MouseButtonPress) {
        auto* view = viewport == details->viewport() ? static_cast<QAbstractItemView*>(details)
                                                     : static_cast<QAbstractItemView*>(icons);
        // Only entries leave, and only a plain press takes them: Shift and
        // Ctrl change the selection, and a press beside the items draws a
        // frame around them as before.
        const QModelIndex index = view->indexAt(at);
        dragArmed = archiveMode && mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier &&
                    index.isValid() && index.row() > 0;
        dragFrom = at;
        return false;
    }
    if (type == QEvent::MouseButtonRelease) {
        dragArmed = false;
        return false;
    }
    if (!dragArmed) return false;
    if (!(mouse->buttons() & Qt::LeftButton)) {
        dragArmed = false;
        return false;
    }
    // Short of the drag distance the hand only trembles: the view would take
    // it for the start of a range and select other entries.
    if ((at - dragFrom).manhattanLength() < QApplication::startDragDistance()) return true;
    dragArmed = false;
    DragSelectedEntries();
    return true;
}

void CRightView::DragSelectedEntries() {
    const QString archivePath = currentPath;
    if (!archiveMode || !platform::HasSuffixNoCase(archivePath, kVmra)) return;
    // The extraction would refuse the others; the drop target is offered
    // nothing it could not get from Extract to.
    QStringList names;
    for (const QString& name : SelectedNames())
        if (platform::HasSuffixNoCase(name, kLas) && velmora::IsExtractableName(platform::ToCore(name))) names << name;
    if (names.isEmpty()) return;

    // A new folder that only this user can enter: the files wait there until
    // the drop target has copied them. The folder for temporary files is
    // taken as named (QDir::tempPath() would make a missing one "", that is
    // the root).
    QString base = qEnvironmentVariable("TMPDIR");
    if (base.isEmpty()) base = QStringLiteral("/tmp");
    QByteArray pattern = QFile::encodeName(base + QStringLiteral("/velmora-drag-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int cause = errno;
        platform::ShowMessage(ui, this,
                              MessageAbout(QString::fromLatin1(listmsg::kDragFolderNotCreated), Shown(base), cause),
                              MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    const QString folder = platform::WithTrailingSeparator(QFile::decodeName(pattern));

    CDecompressDialog job(ui, window());
    job.SetArchivePath(archivePath);
    job.SetOutputFolder(folder);
    job.SetEntries(names);
    job.exec();
    QList<QUrl> urls;
    if (!job.Aborted())
        for (const velmora::ItemReport& r : job.Summary().items)
            if (r.outcome == velmora::Outcome::Extracted) urls << QUrl::fromLocalFile(folder + platform::FromCore(r.name));
    // Let go while the entries came out, the drag has nowhere left to go.
    if (urls.isEmpty() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        QDir(folder).removeRecursively();
        return;
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    data->setData(QString::fromLatin1(kDraggedEntriesFormat), archivePath.toUtf8());
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(IconFor(folder + names.first()).pixmap(32));
    // A copy only: the files are the drop target's to keep, the folder stays ours.
    if (ui.RunDrag(*drag, Qt::CopyAction) == Qt::IgnoreAction) {
        // Dropped where nothing took the files.
        QDir(folder).removeRecursively();
        return;
    }
    dragFolders << folder;
}

QString CRightView::ListedFolder() const {
    // The folder the list shows is the one commands act on, even when the
    // tree could not follow a path to it.
    return platform::WithTrailingSeparator(currentPath);
}

void CRightView::UpdateCommandFlags() {
    // ".." is never part of a selection; it may keep the focus, so that
    // Enter on it goes up.
    SetItemSelected(0, false);
    FollowSelection();
}

void CRightView::FollowSelection() {
    flags = listview::ComputeCommandFlags(SelectedNames(), archiveMode);
    emit FlagsChanged();
    emit SelectionChanged();
}

void CRightView::SelectAll() {
    ActiveView()->setFocus();
    SelectRows(1, [](int) { return true; });
    UpdateCommandFlags();
}

void CRightView::DeselectAll() {
    ActiveView()->setFocus();
    SelectRows(1, [](int) { return false; });
    UpdateCommandFlags();
}

void CRightView::InvertSelection() {
    ActiveView()->setFocus();
    std::vector<bool> was(static_cast<std::size_t>(ItemCount()));
    for (int r = 0; r < ItemCount(); ++r) was[static_cast<std::size_t>(r)] = IsItemSelected(r);
    SelectRows(1, [&was](int r) { return !was[static_cast<std::size_t>(r)]; });
    UpdateCommandFlags();
}

void CRightView::OnKeyRelease() {
    if (CurrentRow() != 0) return;
    SetItemSelected(0, false);
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    if (ItemCount() >= 2) SetItemSelected(1, true);
}

void CRightView::OnEnter() {
    if (!tree) return;
    for (const QString& name : SelectedNames()) {
        if (!platform::HasSuffixNoCase(name, kVmra)) continue;
        tree->SelectChild(name);
        break;
    }
    ShowTreeSelection();
}

void CRightView::OnDoubleClick(int row) {
    if (row < 0 || row >= ItemCount()) return;
    if (row == 0) {
        GoUp();
        return;
    }
    const QString name = rows[static_cast<std::size_t>(row)].name;
    if (archiveMode) {
        // The entry under the mouse, whatever else a Ctrl-click left selected.
        ExtractFromArchive(false, {name});
        return;
    }
    if (!platform::HasSuffixNoCase(name, kVmra) || !tree) return;
    const QString folder = ListedFolder();
    if (tree->SelectChild(name)) ShowPath(folder + name);
}

void CRightView::AddSelected() {
    const QStringList selected = SelectedNames();
    if (selected.isEmpty()) return;
    CCompressDialog job(ui, window());
    const QString folder = ListedFolder();
    QStringList paths, shown;
    for (const QString& name : selected) {
        if (!platform::HasSuffixNoCase(name, kLas)) continue;
        paths << folder + name;
        shown << name;
    }
    job.SetFiles(paths, shown);
    job.exec();
    ShowTreeSelection();
    if (tree) {
        tree->RefreshTree();
        if (job.ArchiveCreated()) tree->SelectPath(job.ArchivePath());
    }
}

void CRightView::DeleteSelected() {
    const QStringList selected = SelectedNames();
    if (selected.isEmpty()) return;
    const char* question = selected.size() == 1 ? listmsg::kDeleteOne : listmsg::kDeleteMany;
    QStringList names;
    for (const QString& name : selected) names << Shown(name);
    const QString text = MessageAbout(QString::fromLatin1(question), listview::ListedNames(names), 0);
    if (platform::ShowMessage(ui, this, text, MsgButtons::OkCancel, MsgIcon::Question) != MsgResult::Ok) return;

    if (!archiveMode) {
        const QString folder = ListedFolder();
        for (const QString& name : selected) {
            const int cause = RemoveFile(folder + name);
            if (cause == 0) continue;
            ui.MessageBox(this, MessageAbout(QString::fromLatin1(listmsg::kCouldNotDelete), Shown(folder + name), cause),
                          QString::fromLatin1(listmsg::kMessageCaption), MsgButtons::Ok, MsgIcon::None);
        }
        ShowPath(currentPath);
    } else if (listview::IsArchivePath(currentPath)) {
        const QString archivePath = currentPath;
        QStringList entries;
        for (const QString& name : selected)
            if (platform::HasTrailingExtension(name, kLas)) entries << name;
        if (!entries.isEmpty()) {
            emit ArchiveChanging();
            DeleteDlg dlg(this, archivePath, entries);
            dlg.exec();
            if (const velmora::ItemReport* failure = dlg.Failure())
                platform::ShowMessage(ui, this, FailureText(*failure), MsgButtons::Ok, MsgIcon::Error);
        }
        // Listed again also after a failure: entries deleted before it are gone.
        ShowPath(archivePath);
    }
    if (tree) tree->RefreshTree();
}

void CRightView::ExtractFromArchive(bool here, const QStringList& names) {
    const QString archivePath = currentPath;
    const QStringList selected = names.isEmpty() ? SelectedNames() : names;
    if (selected.isEmpty() || !platform::HasSuffixNoCase(archivePath, kVmra)) return;
    CDecompressDialog job(ui, window());
    job.SetArchivePath(archivePath);
    if (here) job.SetOutputFolder(platform::FolderPart(archivePath));
    QStringList entries;
    for (const QString& name : selected)
        if (platform::HasSuffixNoCase(name, kLas)) entries << name;
    job.SetEntries(entries);
    job.exec();
    ShowTreeSelection();
}

void CRightView::ExtractWholeArchives(bool here) {
    const QStringList selected = SelectedNames();
    if (selected.isEmpty()) return;
    QStringList archives;
    for (const QString& name : selected)
        if (platform::HasSuffixNoCase(name, kVmra)) archives << name;
    const QString folder = ListedFolder();
    // Extract to: one job for all archives, so the folder is asked once.
    std::unique_ptr<CDecompressDialog> shared;
    if (!here) shared = std::make_unique<CDecompressDialog>(ui, window());
    for (const QString& name : archives) {
        std::unique_ptr<CDecompressDialog> own;
        CDecompressDialog* job = shared.get();
        if (here) {
            own = std::make_unique<CDecompressDialog>(ui, window());
            own->SetOutputFolder(folder);
            job = own.get();
        }
        const QString archivePath = folder + name;
        job->SetArchivePath(archivePath);
        // An archive that cannot be read ends the command before any folder
        // is asked for; an empty one ends it quietly.
        const listview::ArchiveListing listing = listview::ReadArchiveListing(archivePath);
        if (ReportListing(archivePath, listing)) return;
        if (listing.entries.empty()) return;
        job->SetEntries({});
        job->SetWholeArchive(true);
        job->exec();
        ShowTreeSelection();
        if (job->OutputFolder().isEmpty()) return;
    }
}

void CRightView::ExtractTo() {
    if (archiveMode)
        ExtractFromArchive(false);
    else
        ExtractWholeArchives(false);
}

void CRightView::ExtractHere() {
    if (archiveMode)
        ExtractFromArchive(true);
    else
        ExtractWholeArchives(true);
}

void CRightView::TestSelected() {
    const QString archivePath = currentPath;
    if (!archiveMode || !platform::HasSuffixNoCase(archivePath, kVmra)) return;
    QStringList entries;
    for (const QString& name : SelectedNames())
        if (platform::HasSuffixNoCase(name, kLas)) entries << name;
    if (entries.isEmpty()) return;
    CTestDialog job(ui, window());
    job.SetArchivePath(archivePath);
    job.SetEntries(entries);
    job.exec();
    // The test changes nothing, but opening the archive may have put right
    // an interrupted change of it.
    Refresh();
}

void CRightView::DropFiles(const QStringList& paths) {
    if (!archiveMode) {
        platform::ShowMessage(ui, this, listmsg::kNoArchiveOpened);
        return;
    }
    if (platform::ShowMessage(ui, this, listmsg::kAddFilesToArchive, MsgButtons::OkCancel, MsgIcon::Question) !=
        MsgResult::Ok)
        return;
    CCompressDialog job(ui, window());
    QStringList files, shown;
    for (const QString& path : paths) {
        if (!platform::HasTrailingExtension(path, kLas, true)) continue;
        if (QFileInfo(path).isDir()) continue;  // a folder named like a LAS file
        files << path;
        shown << platform::FileNamePart(path);
    }
    job.SetFiles(files, shown);
    job.SetArchivePath(currentPath);
    if (job.FileCount() == 0) return;
    emit ArchiveChanging();
    job.exec();
    ShowTreeSelection();
}

void CRightView::FindAndSelect() {
    FindDialog dlg(window());
    if (ui.RunDialog(dlg) != QDialog::Accepted) return;
    SelectMatching(dlg.FindText(), dlg.MatchCase(), dlg.Filter());
}

void CRightView::SelectMatching(const QString& text, bool matchCase, int filter) {
    ActiveView()->setFocus();
    const QString needle = matchCase ? text : text.toLower();
    SelectRows(0, [&](int r) {
        const QString name = ItemText(r);
        const QString hay = matchCase ? name : name.toLower();
        bool allowed = false;
        switch (filter) {
            case 1: allowed = platform::HasTrailingExtension(name, kLas); break;
            case 2: allowed = platform::HasTrailingExtension(name, kVmra); break;
            case 3: allowed = true; break;
            default: allowed = false;
        }
        return allowed && hay.contains(needle);
    });
}

void CRightView::NewArchive() {
    if (!tree) return;
    if (!tree->HasSelectedNode()) {
        platform::ShowMessage(ui, this, listmsg::kNoFolderSelected);
        return;
    }
    QString folder = tree->SelectedPath();
    if (folder.isEmpty()) return;
    // An archive is selected: the new one goes beside it.
    if (!platform::IsSeparator(folder.back())) folder = platform::FolderPart(folder);
    NewDialog dlg(QString::fromLatin1(listmsg::kNewDefaultName), window());
    if (ui.RunDialog(dlg) != QDialog::Accepted) return;
    if (dlg.NewName().isEmpty()) return;
    const QString name = NewArchiveFileName(dlg.NewName());
    const QString path = Shown(folder + name);
    switch (velmora::CreateNewArchive(platform::ToCore(folder), platform::ToCore(name))) {
        case velmora::NewArchive::Exists:
            platform::ShowMessage(ui, this, MessageAbout(QString::fromLatin1(listmsg::kFileExists), path, 0));
            return;
        case velmora::NewArchive::NotCreated:
            platform::ShowMessage(ui, this, MessageAbout(QString::fromLatin1(listmsg::kNewNotCreated), path, 0));
            return;
        case velmora::NewArchive::Created:
            break;
    }
    tree->AddArchiveToSelectedFolder(name);
    ShowPath(folder + name);
}

QMenu* CRightView::BuildContextMenu() {
    auto* menu = new QMenu(this);
    if (!SelectedNames().isEmpty()) {
        const struct {
            const char* text;
            bool enabled;
            void (CRightView::*run)();
        } file[] = {{listmsg::kCtxAdd, flags.canAdd, &CRightView::AddSelected},
                    {listmsg::kCtxDelete, flags.canDelete, &CRightView::DeleteSelected},
                    {listmsg::kCtxExtractTo, flags.canExtract, &CRightView::ExtractTo},
                    {listmsg::kCtxExtractHere, flags.canExtractHere, &CRightView::ExtractHere},
                    {listmsg::kCtxTest, flags.canTest, &CRightView::TestSelected}};
        for (const auto& f : file) {
            QAction* a = menu->addAction(QString::fromLatin1(f.text));
            a->setEnabled(f.enabled);
            auto run = f.run;
            connect(a, &QAction::triggered, this, [this, run] { (this->*run)(); });
        }
        menu->addSeparator();
        connect(menu->addAction(QString::fromLatin1(listmsg::kCtxSelectAll)), &QAction::triggered, this,
                [this] { SelectAll(); });
        connect(menu->addAction(QString::fromLatin1(listmsg::kCtxDeselectAll)), &QAction::triggered, this,
                [this] { DeselectAll(); });
        connect(menu->addAction(QString::fromLatin1(listmsg::kCtxInvert)), &QAction::triggered, this,
                [this] { InvertSelection(); });
    } else {
        const struct {
            const char* text;
            ListType type;
        } styles[] = {{listmsg::kLargeIcons, kLargeIcons},
                      {listmsg::kSmallIcons, kSmallIcons},
                      {listmsg::kList, kList},
                      {listmsg::kDetails, kDetails}};
        for (const auto& s : styles) {
            QAction* a = menu->addAction(QString::fromLatin1(s.text));
            a->setCheckable(true);
            a->setChecked(type == s.type);
            const ListType t = s.type;
            connect(a, &QAction::triggered, this, [this, t] {
                SetType(t);
                emit FlagsChanged();
            });
        }
    }
    return menu;
}

void CRightView::ShowContextMenu(const QPoint& globalPos) {
    UpdateCommandFlags();
    std::unique_ptr<QMenu> menu(BuildContextMenu());
    menu->exec(globalPos);
}
