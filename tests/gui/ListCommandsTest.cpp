#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTreeView>
#include <QWindow>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "ListFixture.h"
#include "app/CommandIds.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "archive/VMRAFile.h"
#include "jobs/JobDialog.h"
#include "listview/ArchiveListing.h"
#include "listview/DeleteDlg.h"
#include "listview/FindDialog.h"
#include "listview/ListLogic.h"
#include "listview/NewDialog.h"
#include "listview/RightView.h"

using guitest::GuiFixture;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

QStringList Names(const CRightView* v) {
    QStringList n;
    for (int r = 0; r < v->ItemCount(); ++r) n << v->ItemText(r);
    return n;
}

int RowOf(const CRightView* v, const QString& name) {
    for (int r = 0; r < v->ItemCount(); ++r)
        if (v->ItemText(r) == name) return r;
    return -1;
}

QStringList MenuTexts(const QMenu* m) {
    QStringList t;
    for (const QAction* a : m->actions())
        t << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "" : " (grey)"));
    return t;
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class ListCommandsTest : public guitest::ListFixture {};

// In every style: the icon styles show only the name, yet a click on it
// selects the item for the commands as a click on its row in details does.
TEST_F(ListCommandsTest, CommandFlagsFollowTheClickedItems) {
    MakeFile(QStringLiteral("f/a.las"));
    MakeFile(QStringLiteral("f/x.vmra"), 0);
    for (const listview::ListType type :
         {listview::kDetails, listview::kLargeIcons, listview::kSmallIcons, listview::kList}) {
        SCOPED_TRACE(type);
        list->SetType(type);
        tree->SelectPath(Root() + QStringLiteral("f"));
        list->setFocus();
        Click(QStringLiteral("a.las"));
        EXPECT_TRUE(frame->ListActive());
        EXPECT_EQ(list->SelectedNames(), QStringList{"a.las"});
        EXPECT_TRUE(Enabled(cmd::kAdd));
        EXPECT_TRUE(Enabled(cmd::kDelete));
        EXPECT_FALSE(Enabled(cmd::kExtractTo));
        EXPECT_FALSE(Enabled(cmd::kExtractHere));
        Click(QStringLiteral("x.vmra"));
        EXPECT_FALSE(Enabled(cmd::kAdd));
        EXPECT_TRUE(Enabled(cmd::kExtractTo) && Enabled(cmd::kExtractHere) && Enabled(cmd::kDelete));
        Click(QStringLiteral("a.las"), Qt::ControlModifier);
        EXPECT_EQ(list->SelectedNames(), (QStringList{"a.las", "x.vmra"}));
        EXPECT_TRUE(Enabled(cmd::kDelete));
        EXPECT_FALSE(Enabled(cmd::kAdd) || Enabled(cmd::kExtractTo) || Enabled(cmd::kExtractHere));
        Click(QStringLiteral(".."));
        EXPECT_FALSE(list->IsItemSelected(0));  // ".." is never part of a selection
        EXPECT_FALSE(Enabled(cmd::kDelete));
    }
}

TEST_F(ListCommandsTest, CommandsFollowKeyboardAndFindSelections) {
    MakeFile(QStringLiteral("kb/a.las"));
    MakeFile(QStringLiteral("kb/x.vmra"), 0);
    list->SetType(listview::kDetails);
    tree->SelectPath(Root() + QStringLiteral("kb"));
    list->setFocus();
    Key(Qt::Key_Down);  // onto "..", and on its release to the first file
    ASSERT_EQ(list->SelectedNames(), QStringList{"a.las"});
    EXPECT_TRUE(Enabled(cmd::kAdd) && Enabled(cmd::kDelete));
    EXPECT_FALSE(Enabled(cmd::kExtractTo) || Enabled(cmd::kExtractHere));
    Key(Qt::Key_Down);
    ASSERT_EQ(list->SelectedNames(), QStringList{"x.vmra"});
    EXPECT_TRUE(Enabled(cmd::kExtractTo) && Enabled(cmd::kExtractHere) && Enabled(cmd::kDelete));
    EXPECT_FALSE(Enabled(cmd::kAdd));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::ShiftModifier);
    ASSERT_EQ(list->SelectedNames(), (QStringList{"a.las", "x.vmra"}));
    EXPECT_TRUE(Enabled(cmd::kDelete));
    EXPECT_FALSE(Enabled(cmd::kAdd) || Enabled(cmd::kExtractTo) || Enabled(cmd::kExtractHere));

    // Through Find: the archive alone, then the Delete key asks about it.
    ui.dialogSteps.push_back([](QDialog& d) {
        auto& find = dynamic_cast<FindDialog&>(d);
        find.findChild<QLineEdit*>(QStringLiteral("findText"))->setText(QStringLiteral("x"));
        find.accept();
        return int(QDialog::Accepted);
    });
    frame->Action(cmd::kFind)->trigger();
    ASSERT_EQ(list->SelectedNames(), QStringList{"x.vmra"});
    EXPECT_TRUE(Enabled(cmd::kExtractTo) && Enabled(cmd::kExtractHere) && Enabled(cmd::kDelete));
    EXPECT_FALSE(Enabled(cmd::kAdd));
    Key(Qt::Key_Delete);
    EXPECT_EQ(ui.Texts(), QStringList{"Delete selected file?\n\nx.vmra"});  // answered Cancel
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("kb/x.vmra")));

    // A selection made in code, as the release of a key on ".." does it.
    list->SetItemSelected(2, false);
    EXPECT_FALSE(Enabled(cmd::kDelete) || Enabled(cmd::kExtractTo));
}

TEST_F(ListCommandsTest, AfterABatchNothingIsSelectedAndNothingEnabled) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString store = Root() + QStringLiteral("store/s.vmra");
    MakeFolder(QStringLiteral("store"));
    AddDirect(Las("100_points.las", "store/b.las"), store);
    Las("point10.las", "batch/a.las");
    list->SetType(listview::kDetails);
    tree->SelectPath(Root() + QStringLiteral("batch"));
    list->setFocus();
    Click(QStringLiteral("a.las"));
    ASSERT_TRUE(Enabled(cmd::kAdd));
    ui.saveNames.push_back(store);  // an archive that is there already
    frame->Action(cmd::kAdd)->trigger();
    ASSERT_EQ(listview::ReadArchiveListing(store).entries.size(), 2u);
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("batch/"));
    EXPECT_TRUE(list->SelectedNames().isEmpty());
    for (int id : {cmd::kAdd, cmd::kDelete, cmd::kExtractTo, cmd::kExtractHere})
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(ListCommandsTest, ArchiveEntriesAllowExtractAndDeleteButNeverAdd) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("e.vmra");
    AddDirect(Las("point10.las", "src/a.las"), archive);
    list->SetType(listview::kDetails);
    tree->SelectPath(archive);
    EXPECT_TRUE(list->ArchiveMode());
    list->setFocus();
    Click(QStringLiteral("a.las"));
    EXPECT_FALSE(Enabled(cmd::kAdd));
    EXPECT_TRUE(Enabled(cmd::kExtractTo) && Enabled(cmd::kExtractHere) && Enabled(cmd::kDelete));
}

TEST_F(ListCommandsTest, SelectionKeysNeverSelectUp) {
    MakeFile(QStringLiteral("k/a.las"));
    MakeFile(QStringLiteral("k/b.las"));
    tree->SelectPath(Root() + QStringLiteral("k"));
    list->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
    EXPECT_FALSE(list->IsItemSelected(0));
    EXPECT_TRUE(Enabled(cmd::kAdd));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(list->SelectedNames().isEmpty());
    EXPECT_FALSE(list->IsItemSelected(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(list->SelectedNames().size(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(list->SelectedNames().isEmpty());
    EXPECT_FALSE(Enabled(cmd::kDelete));

    // From the tree the frame selects on the list, and the flags follow.
    tree->setFocus();
    QApplication::processEvents();
    frame->Action(cmd::kSelectAll)->trigger();
    EXPECT_EQ(list->SelectedNames().size(), 2);
    EXPECT_FALSE(list->IsItemSelected(0));
    EXPECT_TRUE(list->Flags().canDelete && list->Flags().canAdd);
}

TEST_F(ListCommandsTest, ReleasingAKeyOnUpMovesToTheFirstItem) {
    MakeFile(QStringLiteral("u/a.las"));
    tree->SelectPath(Root() + QStringLiteral("u"));
    list->setFocus();
    list->SetItemSelected(0, true);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_FALSE(list->IsItemSelected(0));
    EXPECT_TRUE(list->IsItemSelected(1));
    EXPECT_EQ(list->CurrentRow(), 1);
}

TEST_F(ListCommandsTest, DoubleClickOnUpAndOnAnArchive) {
    MakeFile(QStringLiteral("p/q/x.vmra"), 0);
    tree->SelectPath(Root() + QStringLiteral("p/q"));
    list->SetItemSelected(1, true);
    list->OnDoubleClick(1);  // x.vmra
    EXPECT_TRUE(list->ArchiveMode());
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("p/q/x.vmra"));
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("p/q/x.vmra"));
    list->OnDoubleClick(0);  // ".."
    EXPECT_FALSE(list->ArchiveMode());
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("p/q/"));
    list->OnDoubleClick(0);
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("p/"));
}

TEST_F(ListCommandsTest, UpGoesToTheParentByDoubleClickEnterAndBackspace) {
    for (const listview::ListType type : {listview::kDetails, listview::kLargeIcons}) {
        SCOPED_TRACE(type);
        MakeFile(QStringLiteral("p/q/r/a.las"));
        MakeFile(QStringLiteral("p/q/b.las"));
        list->SetType(type);
        tree->SelectPath(Root() + QStringLiteral("p/q/r"));
        list->setFocus();
        ASSERT_EQ(list->ItemText(0), QStringLiteral(".."));

        DoubleClickAsAUser(QStringLiteral(".."));
        EXPECT_EQ(TreePath(), Root() + QStringLiteral("p/q/"));
        EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("p/q/"));
        EXPECT_TRUE(list->SelectedNames().isEmpty());

        ClickAsAUser(QStringLiteral(".."));
        EXPECT_FALSE(list->IsItemSelected(0));
        Key(Qt::Key_Return);
        EXPECT_EQ(TreePath(), Root() + QStringLiteral("p/"));
        EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("p/"));

        Key(Qt::Key_Backspace);
        EXPECT_EQ(TreePath(), Root());
        EXPECT_EQ(list->CurrentPath(), Root());
        // The place has no parent: Backspace leaves it listed.
        Key(Qt::Key_Backspace);
        EXPECT_EQ(TreePath(), Root());
        EXPECT_TRUE(ui.shown.empty());
    }
}

// Enter on a file that is no archive, or a double click on one, does not go
// up: only ".." and Backspace do.
TEST_F(ListCommandsTest, EnterAndDoubleClickOnAFileStayInTheFolder) {
    MakeFile(QStringLiteral("s/t/a.las"));
    list->SetType(listview::kDetails);
    tree->SelectPath(Root() + QStringLiteral("s/t"));
    list->setFocus();
    DoubleClickAsAUser(QStringLiteral("a.las"));
    EXPECT_EQ(TreePath(), Root() + QStringLiteral("s/t/"));
    ClickAsAUser(QStringLiteral("a.las"));
    Key(Qt::Key_Return);
    EXPECT_EQ(TreePath(), Root() + QStringLiteral("s/t/"));
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("s/t/"));
}

TEST_F(ListCommandsTest, EnterOpensTheSelectedArchive) {
    MakeFile(QStringLiteral("n/y.vmra"), 0);
    MakeFile(QStringLiteral("n/z.las"));
    tree->SelectPath(Root() + QStringLiteral("n"));
    list->setFocus();
    list->SetItemSelected(RowOf(list, QStringLiteral("y.vmra")), true);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(list->ArchiveMode());
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("n/y.vmra"));
}

TEST_F(ListCommandsTest, CancelInTheArchiveChooserEndsAdd) {
    VELMORA_REQUIRE_CORPUS(dir);
    Las("point10.las", "three/a.las");
    Las("point_time.las", "three/b.las");
    Las("100_points.las", "three/c.las");
    tree->SelectPath(Root() + QStringLiteral("three"));
    list->setFocus();
    list->SelectAll();
    ASSERT_EQ(list->SelectedNames().size(), 3);
    frame->Action(cmd::kAdd)->trigger();  // the chooser is cancelled
    EXPECT_EQ(ui.savePrompts.size(), 1);
    EXPECT_EQ(Names(list), (QStringList{"..", "a.las", "b.las", "c.las"}));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ListCommandsTest, DroppingFilesOnAFolderOrAnArchive) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("drop.vmra");
    QFile(archive).open(QIODevice::WriteOnly);
    const QString a = Las("point10.las", "in/a.las"), b = Las("100_points.las", "in/b.LAS");
    MakeFolder(QStringLiteral("in/folder.las"));
    MakeFile(QStringLiteral("in/notes.txt"));
    const QStringList dropped{Root() + QStringLiteral("in/folder.las"), Root() + QStringLiteral("in/notes.txt"), a, b};

    tree->SelectPath(Root() + QStringLiteral("in"));
    list->DropFiles(dropped);
    EXPECT_EQ(ui.Texts(), QStringList{"No archive opened."});

    tree->SelectPath(archive);
    ui.answers.push_back(MsgResult::Ok);
    list->DropFiles(dropped);
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[1].text, QStringLiteral("Add files to archive?"));
    EXPECT_EQ(ui.shown[1].icon, MsgIcon::Question);
    EXPECT_EQ(Names(list), (QStringList{"..", "a.las", "b.LAS"}));

    // A real drop from a file manager, onto the list's items.
    MakeFile(QStringLiteral("in/c.txt"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Root() + QStringLiteral("in/c.txt"))});
    QWidget* target = static_cast<QAbstractItemView*>(list->ActiveView())->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QApplication::processEvents();
    ASSERT_EQ(ui.shown.size(), 3u);  // asked again; the script answers Cancel
    EXPECT_EQ(ui.shown[2].text, QStringLiteral("Add files to archive?"));
}

TEST_F(ListCommandsTest, DeletingTwoFilesAsksOnce) {
    MakeFile(QStringLiteral("del/a.las"));
    MakeFile(QStringLiteral("del/b.las"));
    MakeFile(QStringLiteral("del/c.las"));
    tree->SelectPath(Root() + QStringLiteral("del"));
    list->SetItemSelected(1, true);
    list->SetItemSelected(2, true);
    ui.answers.push_back(MsgResult::Ok);
    list->DeleteSelected();
    ASSERT_EQ(ui.Texts(), QStringList{"Delete selected files?\n\na.las\nb.las"});
    EXPECT_EQ(ui.shown[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(Names(list), (QStringList{"..", "c.las"}));
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("del/a.las")));

    list->SetItemSelected(1, true);
    list->DeleteSelected();  // unscripted: Cancel
    EXPECT_EQ(ui.Texts(), (QStringList{"Delete selected files?\n\na.las\nb.las", "Delete selected file?\n\nc.las"}));
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("del/c.las")));
}

TEST_F(ListCommandsTest, DeletingAnEntryWithProgress) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("three.vmra");
    AddDirect(Las("point10.las", "s/a.las"), archive);
    AddDirect(Las("sample_c.las", "s/b.las"), archive);
    AddDirect(Las("100_points.las", "s/c.las"), archive);
    tree->SelectPath(archive);
    list->SetItemSelected(RowOf(list, QStringLiteral("b.las")), true);
    ui.answers.push_back(MsgResult::Ok);
    list->DeleteSelected();
    EXPECT_EQ(Names(list), (QStringList{"..", "a.las", "c.las"}));
    EXPECT_EQ(ui.Texts(), QStringList{"Delete selected file?\n\nb.las"});

    DeleteDlg dlg(nullptr, archive, {QStringLiteral("c.las")});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Deleting in progress"));
    dlg.exec();
    EXPECT_FALSE(dlg.Failed());
    EXPECT_EQ(dlg.Progress(), 100);
    // Before the deletion has ended, Escape or the close box do not close it.
    DeleteDlg early(nullptr, archive, {QStringLiteral("a.las")});
    early.show();
    early.reject();
    EXPECT_TRUE(early.isVisible());
    early.hide();

    DeleteDlg missing(nullptr, archive, {QStringLiteral("gone.las")});
    missing.exec();  // closes by itself also on failure
    EXPECT_TRUE(missing.Failed());
    EXPECT_EQ(missing.Error(), QStringLiteral("LAS file not found in archive!"));
}

TEST_F(ListCommandsTest, AnEntryDeletedMeanwhileIsNamedInTheBox) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("two.vmra");
    AddDirect(Las("point10.las", "s/a.las"), archive);
    AddDirect(Las("100_points.las", "s/b.las"), archive);
    tree->SelectPath(archive);
    list->SetItemSelected(RowOf(list, QStringLiteral("a.las")), true);
    list->SetItemSelected(RowOf(list, QStringLiteral("b.las")), true);
    {
        VMRAFile other;  // another program, behind the list's back
        other.DeleteEntry(archive.toStdString(), "a.las");
    }
    ui.answers.push_back(MsgResult::Ok);
    list->DeleteSelected();
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[1].text, QStringLiteral("LAS file not found in archive!\n\na.las"));
    EXPECT_EQ(ui.shown[1].icon, MsgIcon::Error);
    // The deletion ended at the entry it could not delete.
    EXPECT_EQ(Names(list), (QStringList{"..", "b.las"}));
}

TEST_F(ListCommandsTest, TestChecksTheSelectedEntriesOfTheOpenArchive) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("t.vmra");
    AddDirect(Las("point10.las", "s/a.las"), archive);
    AddDirect(Las("sample_c.las", "s/b.las"), archive);
    AddDirect(Las("100_points.las", "s/c.las"), archive);
    ASSERT_TRUE(guitest::DamageEntry(archive, QStringLiteral("b.las")));
    list->SetType(listview::kDetails);

    // Not for files in a folder.
    tree->SelectPath(Root() + QStringLiteral("s"));
    list->setFocus();
    Click(QStringLiteral("a.las"));
    EXPECT_FALSE(Enabled(cmd::kTest));
    EXPECT_FALSE(list->Flags().canTest);

    tree->SelectPath(archive);
    list->setFocus();
    EXPECT_FALSE(Enabled(cmd::kTest));  // nothing selected yet
    Click(QStringLiteral("a.las"));
    Click(QStringLiteral("b.las"), Qt::ControlModifier);
    EXPECT_TRUE(Enabled(cmd::kTest));
    std::unique_ptr<QMenu> menu(list->BuildContextMenu());
    EXPECT_TRUE(MenuTexts(menu.get()).contains(QStringLiteral("&Test")));

    QStringList log;
    ui.keepOpenSteps.push_back([&](QDialog& d) { log = dynamic_cast<CJobDialog&>(d).LogLines(); });
    frame->Action(cmd::kTest)->trigger();
    ASSERT_EQ(ui.keptOpen, QStringList{"Test"});
    ASSERT_EQ(log.size(), 6) << log.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(log.mid(0, 4), (QStringList{"Testing files...", "Testing file a.las", "a.las: ok", "Testing file b.las"}));
    EXPECT_TRUE(log[4].startsWith(QStringLiteral("b.las: damaged: ")));
    EXPECT_EQ(log[5], QStringLiteral("1 file tested ok, 1 damaged"));
    EXPECT_TRUE(ui.shown.empty());
    // The list still shows the archive, with the same selection.
    EXPECT_EQ(list->CurrentPath(), archive);
    EXPECT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
}

// A double-click extracts the entry under the mouse, not the selection a
// Ctrl-click left beside it.
TEST_F(ListCommandsTest, DoubleClickExtractsTheEntryUnderTheMouse) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("d.vmra");
    AddDirect(Las("point10.las", "d/a.las"), archive);
    AddDirect(Las("100_points.las", "d/b.las"), archive);
    list->SetType(listview::kDetails);
    tree->SelectPath(archive);
    list->setFocus();
    Click(QStringLiteral("a.las"));
    Click(QStringLiteral("b.las"), Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
    const QString out = MakeFolder(QStringLiteral("dout"));
    ui.folders.push_back(out);
    list->OnDoubleClick(RowOf(list, QStringLiteral("b.las")));
    EXPECT_EQ(Bytes(out + QStringLiteral("/b.las")), Bytes(Root() + QStringLiteral("d/b.las")));
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/a.las")));
}

TEST_F(ListCommandsTest, ExtractToOverThreeArchivesAsksOnce) {
    VELMORA_REQUIRE_CORPUS(dir);
    MakeFolder(QStringLiteral("w"));
    AddDirect(Las("point10.las", "src/one.las"), Root() + QStringLiteral("w/1.vmra"));
    AddDirect(Las("point_time.las", "src/two.las"), Root() + QStringLiteral("w/2.vmra"));
    AddDirect(Las("100_points.las", "src/three.las"), Root() + QStringLiteral("w/3.vmra"));
    const QString out = MakeFolder(QStringLiteral("out"));
    tree->SelectPath(Root() + QStringLiteral("w"));
    list->SelectAll();
    ui.folders.push_back(out);
    list->ExtractTo();
    EXPECT_EQ(ui.folderRequests, 1);
    for (const char* n : {"one.las", "two.las", "three.las"})
        EXPECT_EQ(Bytes(out + QLatin1Char('/') + QString::fromLatin1(n)),
                  Bytes(Root() + QStringLiteral("src/") + QString::fromLatin1(n)))
            << n;

    // Cancelling the question extracts nothing and stops.
    const QString out2 = MakeFolder(QStringLiteral("out2"));
    list->SelectAll();
    list->ExtractTo();
    EXPECT_EQ(ui.folderRequests, 2);
    EXPECT_TRUE(QDir(out2).isEmpty());
}

TEST_F(ListCommandsTest, ExtractHereStopsQuietlyAtAnEmptyArchive) {
    VELMORA_REQUIRE_CORPUS(dir);
    MakeFolder(QStringLiteral("h"));
    AddDirect(Las("point10.las", "src/one.las"), Root() + QStringLiteral("h/1.vmra"));
    QFile(Root() + QStringLiteral("h/2.vmra")).open(QIODevice::WriteOnly);
    AddDirect(Las("100_points.las", "src/three.las"), Root() + QStringLiteral("h/3.vmra"));
    tree->SelectPath(Root() + QStringLiteral("h"));
    list->SelectAll();
    list->ExtractHere();
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(ui.folderRequests, 0);
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("h/one.las")));
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("h/three.las")));
}

TEST_F(ListCommandsTest, ExtractToOfANonArchiveSaysWrongFileFormat) {
    MakeFile(QStringLiteral("bad/fake.vmra"), 100);
    tree->SelectPath(Root() + QStringLiteral("bad"));
    list->SelectAll();
    list->ExtractTo();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Wrong file format!\n\n") + Root() + QStringLiteral("bad/fake.vmra"));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(ui.folderRequests, 0);
}

TEST_F(ListCommandsTest, ContextMenusForASelectionAndForNone) {
    MakeFile(QStringLiteral("c/a.las"));
    tree->SelectPath(Root() + QStringLiteral("c"));
    std::unique_ptr<QMenu> styles(list->BuildContextMenu());
    EXPECT_EQ(MenuTexts(styles.get()), (QStringList{"Lar&ge icons", "S&mall icons", "&List", "&Details"}));
    list->SetItemSelected(1, true);
    list->UpdateCommandFlags();
    std::unique_ptr<QMenu> files(list->BuildContextMenu());
    EXPECT_EQ(MenuTexts(files.get()),
              (QStringList{"&Add to ...", "&Delete file(s)\tDelete", "&Extract to ... (grey)",
                           "Extract &here (grey)", "&Test (grey)", "-", "&Select all\tCtrl+A",
                           "Deselect a&ll\tCtrl+D", "&Inverse selection\tCtrl+I"}));
    styles.reset(list->BuildContextMenu());
    ASSERT_EQ(files->actions().size(), 9);
    files->actions().at(7)->trigger();  // Deselect all
    EXPECT_TRUE(list->SelectedNames().isEmpty());
}

class DialogsTest : public ListCommandsTest {};

TEST_F(DialogsTest, FindSelectsByTextCaseAndExtension) {
    for (const char* n : {"north_las.las", "South.las", "a.las", "x.las.las", "lasdata.vmra", "B.vmra"})
        MakeFile(QStringLiteral("find/") + QString::fromLatin1(n), 0);
    tree->SelectPath(Root() + QStringLiteral("find"));
    auto selected = [&] {
        QStringList s;
        for (int r = 0; r < list->ItemCount(); ++r)
            if (list->IsItemSelected(r)) s << list->ItemText(r);
        s.sort();
        return s;
    };
    list->SelectMatching(QStringLiteral("las"), false, 1);
    EXPECT_EQ(selected(), (QStringList{"South.las", "a.las", "north_las.las"}));  // not x.las.las
    list->SelectMatching(QStringLiteral("A"), true, 3);
    EXPECT_TRUE(selected().isEmpty());
    list->SelectMatching(QStringLiteral("S"), true, 3);
    EXPECT_EQ(selected(), QStringList{"South.las"});
    list->SelectMatching(QStringLiteral("las"), false, 2);
    EXPECT_EQ(selected(), QStringList{"lasdata.vmra"});
    list->SelectMatching(QString(), false, 3);
    EXPECT_EQ(selected().size(), 7);  // ".." included
    list->SelectMatching(QString(), false, 0);
    EXPECT_TRUE(selected().isEmpty());

    // Through the dialog: only the VMRA box ticked.
    ui.dialogSteps.push_back([](QDialog& d) {
        auto& find = dynamic_cast<FindDialog&>(d);
        auto* las = find.findChild<QCheckBox*>(QStringLiteral("selectLas"));
        auto* vmra = find.findChild<QCheckBox*>(QStringLiteral("selectVmra"));
        auto* matchCase = find.findChild<QCheckBox*>(QStringLiteral("matchCase"));
        EXPECT_TRUE(las->isChecked() && vmra->isChecked());
        EXPECT_FALSE(matchCase->isChecked());
        find.findChild<QLineEdit*>(QStringLiteral("findText"))->setText(QStringLiteral("b"));
        las->click();
        find.accept();
        return int(QDialog::Accepted);
    });
    list->FindAndSelect();
    EXPECT_EQ(ui.dialogTitles, QStringList{"Find"});
    EXPECT_EQ(selected(), QStringList{"B.vmra"});
}

TEST_F(DialogsTest, NewArchiveNames) {
    MakeFolder(QStringLiteral("new"));
    tree->SelectPath(Root() + QStringLiteral("new"));
    auto typeName = [&](const QString& name) {
        ui.dialogSteps.push_back([name](QDialog& d) {
            auto& dlg = dynamic_cast<NewDialog&>(d);
            auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("name"));
            EXPECT_EQ(edit->text(), QStringLiteral("New.vmra"));
            edit->setText(name);
            dlg.accept();
            return int(QDialog::Accepted);
        });
        list->NewArchive();
    };
    typeName(QStringLiteral("data"));
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("new/data.VMRA")));
    EXPECT_EQ(QFileInfo(Root() + QStringLiteral("new/data.VMRA")).size(), 0);
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("new/data.VMRA"));
    EXPECT_EQ(Names(list), QStringList{".."});
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("new/data.VMRA"));

    // With the new archive selected, the next one goes beside it.
    typeName(QStringLiteral("data.vmra"));
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("new/data.vmra")));
    typeName(QStringLiteral("DATA.VMRA"));
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("new/DATA.VMRA")));
    typeName(QStringLiteral("data.vmra.old"));
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("new/data.vmra.old.VMRA")));
    EXPECT_TRUE(ui.shown.empty());
    ASSERT_NE(tree->SelectedNode(), nullptr);
    QTreeWidgetItem* folder = tree->SelectedNode()->parent();
    ASSERT_NE(folder, nullptr);
    QStringList children;
    for (int i = 0; i < folder->childCount(); ++i) children << folder->child(i)->text(0);
    children.sort();
    EXPECT_EQ(children, (QStringList{"DATA.VMRA", "data.VMRA", "data.vmra", "data.vmra.old.VMRA"}));

    QFile existing(Root() + QStringLiteral("new/data.vmra"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep");
    existing.close();
    typeName(QStringLiteral("data.vmra"));
    // The box names the file that is in the way.
    const QString exists = QStringLiteral("File exists!\n\n") + Root() + QStringLiteral("new/data.vmra");
    EXPECT_EQ(ui.Texts(), QStringList{exists});
    EXPECT_EQ(Bytes(Root() + QStringLiteral("new/data.vmra")), QByteArray("keep"));

    typeName(QStringLiteral("sub/evil"));
    const QString notCreated =
        QStringLiteral("New file could not be created!\n\n") + Root() + QStringLiteral("new/sub/evil.VMRA");
    EXPECT_EQ(ui.Texts(), (QStringList{exists, notCreated}));

    list->NewArchive();  // cancelled dialog: nothing
    EXPECT_EQ(ui.shown.size(), 2u);
    tree->clearSelection();
    list->NewArchive();
    EXPECT_EQ(ui.Texts(), (QStringList{exists, notCreated, "No folder selected!"}));
}
