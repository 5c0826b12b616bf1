#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTreeWidgetItem>

#include "GuiFixture.h"
#include "LasGenerator.h"
#include "archive/VMRAFile.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "listview/RightView.h"

using guitest::GuiFixture;

namespace {
QStringList ChildTexts(const QTreeWidgetItem* node) {
    QStringList t;
    for (int i = 0; i < node->childCount(); ++i) t << node->child(i)->text(0);
    return t;
}
QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == text) return node->child(i);
    return nullptr;
}
}  // namespace

class TreeTest : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        MakeFolder(QStringLiteral("data/b"));
        MakeFolder(QStringLiteral("data/Alpha"));
        MakeFolder(QStringLiteral("data/c/deep"));
        MakeFolder(QStringLiteral("data/f.vmra"));  // a folder with an archive's name
        MakeFile(QStringLiteral("data/y.vmra"), 0);
        MakeFile(QStringLiteral("data/x.VMRA"), 0);
        MakeFile(QStringLiteral("data/notes.txt"));
        frame = StartFrame();
        tree = frame->LeftView();
    }
    std::unique_ptr<CMainFrame> frame;
    CLeftView* tree = nullptr;
};

TEST_F(TreeTest, TopNodeAndPathsOfEachKind) {
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    EXPECT_EQ(top->text(0), QStringLiteral("Data (") + Root().chopped(1) + QStringLiteral(")"));
    EXPECT_EQ(tree->GetItemPath(top), Root());
    EXPECT_EQ(tree->GetItemPath(nullptr), QString());

    QTreeWidgetItem* data = tree->ExpandNode(top, QStringLiteral("data"));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(tree->GetItemPath(data), Root() + QStringLiteral("data/"));
    tree->ExpandNode(data, QString());
    // Folders sorted without regard to case, then the archives (files only).
    EXPECT_EQ(ChildTexts(data), (QStringList{"Alpha", "b", "c", "f.vmra", "x.VMRA", "y.vmra"}));
    QTreeWidgetItem* archive = Child(data, QStringLiteral("x.VMRA"));
    EXPECT_EQ(CLeftView::KindOf(archive), CLeftView::kArchiveNode);
    EXPECT_EQ(tree->GetItemPath(archive), Root() + QStringLiteral("data/x.VMRA"));
    EXPECT_EQ(archive->childCount(), 0);
    QTreeWidgetItem* folderArchiveName = Child(data, QStringLiteral("f.vmra"));
    EXPECT_EQ(CLeftView::KindOf(folderArchiveName), CLeftView::kFolderNode);
    EXPECT_EQ(tree->GetItemPath(folderArchiveName), Root() + QStringLiteral("data/f.vmra/"));
    QTreeWidgetItem* deep = tree->ExpandNode(Child(data, QStringLiteral("c")), QStringLiteral("deep"));
    EXPECT_EQ(tree->GetItemPath(deep), Root() + QStringLiteral("data/c/deep/"));
}

TEST_F(TreeTest, FoldersAreReadOnceOnFirstExpansion) {
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    EXPECT_EQ(top->childCount(), 1);  // the placeholder only
    const int before = tree->FolderReads();
    top->setExpanded(true);
    EXPECT_EQ(tree->FolderReads(), before + 1);
    top->setExpanded(false);
    top->setExpanded(true);
    EXPECT_NE(tree->ExpandNode(top, QStringLiteral("data")), nullptr);
    EXPECT_EQ(tree->ExpandNode(top, QString()), nullptr);
    EXPECT_EQ(tree->FolderReads(), before + 1);
    // A folder added later shows only after a rebuild.
    MakeFolder(QStringLiteral("later"));
    EXPECT_EQ(tree->ExpandNode(top, QStringLiteral("later")), nullptr);
}

TEST_F(TreeTest, SelectPathWalksAndStopsAtTheArchive) {
    tree->SelectPath(Root() + QStringLiteral("data/c/deep"));
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("data/c/deep/"));
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("data/c/deep/"));
    ASSERT_TRUE(tree->SelectedNode() && tree->SelectedNode()->parent());
    EXPECT_TRUE(tree->SelectedNode()->parent()->isExpanded());

    tree->SelectPath(Root() + QStringLiteral("data/x.VMRA/"));
    EXPECT_EQ(CLeftView::KindOf(tree->SelectedNode()), CLeftView::kArchiveNode);
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("data/x.VMRA"));
    EXPECT_EQ(tree->selectedItems().size(), 1);
}

TEST_F(TreeTest, ComponentsAreComparedWithCase) {
    tree->SelectPath(Root() + QStringLiteral("DATA/b"));
    // Nothing below the place matches: the place itself stays selected.
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root());
    tree->SelectPath(Root() + QStringLiteral("data/B"));
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("data/"));
}

TEST_F(TreeTest, OpenPathInTreeSelectsTheTargetOrNothing) {
    tree->OpenPathInTree(Root() + QStringLiteral("data/c"));
    ASSERT_NE(tree->SelectedNode(), nullptr);
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("data/c/"));
    EXPECT_TRUE(tree->SelectedNode()->isExpanded());
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("data/c"));

    tree->OpenPathInTree(Root() + QStringLiteral("data/missing"));
    EXPECT_EQ(tree->SelectedNode(), nullptr);
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("data/missing"));
    EXPECT_EQ(frame->RightView()->ItemCount(), 1);  // only ".."
}

TEST_F(TreeTest, RefreshKeepsTheSelectionAndSeesNewFolders) {
    tree->SelectPath(Root() + QStringLiteral("data/c"));
    MakeFolder(QStringLiteral("data/c/fresh"));
    tree->RefreshTree();
    QTreeWidgetItem* c = tree->SelectedNode();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(tree->GetItemPath(c), Root() + QStringLiteral("data/c/"));
    tree->ExpandNode(c, QString());
    EXPECT_EQ(ChildTexts(c), (QStringList{"deep", "fresh"}));
}

TEST_F(TreeTest, SelectingANodeListsIt) {
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* data = tree->ExpandNode(tree->topLevelItem(0), QStringLiteral("data"));
    ASSERT_NE(data, nullptr);
    tree->setCurrentItem(data);
    EXPECT_EQ(tree->LastSelectedPath(), Root() + QStringLiteral("data/"));
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("data/"));
}

// An archive made in a folder the tree has read already, then opened: the
// tree reads the folder again, so the archive has its node, selected, and
// going up and refreshing work as they do for any other archive.
TEST_F(TreeTest, OpeningAnArchiveTheTreeHasNotSeenRevealsIt) {
    tree->SelectPath(Root() + QStringLiteral("data/c"));
    ASSERT_EQ(ChildTexts(tree->SelectedNode()), QStringList{"deep"});
    const QString archive = Root() + QStringLiteral("data/c/fresh.vmra");
    {
        LasGenOptions o;
        o.points = 2000;
        const QString las = MakeFolder(QStringLiteral("in")) + QStringLiteral("/one.las");
        ASSERT_TRUE(GenerateLasFile(las.toStdString(), o));
        VMRAFile v;  // as the command line makes it, behind the window's back
        v.AddLasFile(las.toStdString(), archive.toStdString());
    }
    tree->collapseAll();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    CRightView* list = frame->RightView();
    auto open = [&] {
        ui.openNames.push_back(archive);
        QTest::keyClick(frame.get(), Qt::Key_O, Qt::ControlModifier);
        QApplication::processEvents();
    };
    open();
    EXPECT_EQ(list->CurrentPath(), archive);
    EXPECT_TRUE(list->ArchiveMode());
    ASSERT_NE(tree->SelectedNode(), nullptr) << "the opened archive has no node in the tree";
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), archive);
    EXPECT_EQ(CLeftView::KindOf(tree->SelectedNode()), CLeftView::kArchiveNode);
    QTreeWidgetItem* c = tree->SelectedNode()->parent();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ChildTexts(c), (QStringList{"deep", "fresh.vmra"}));
    for (QTreeWidgetItem* up = c; up; up = up->parent()) EXPECT_TRUE(up->isExpanded()) << up->text(0).toStdString();

    list->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + QStringLiteral("data/c/"));
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("data/c/"));

    open();
    QTest::keyClick(frame.get(), Qt::Key_F5);
    EXPECT_EQ(tree->GetItemPath(tree->SelectedNode()), archive);
    EXPECT_EQ(list->CurrentPath(), archive);
    EXPECT_EQ(list->ItemCount(), 2);  // "..", one.las
    EXPECT_TRUE(ui.shown.empty());
}

// Read again, a folder's node follows the disk and keeps the nodes that are
// still there, open as they were.
TEST_F(TreeTest, ReadingAFolderAgainKeepsWhatIsStillThere) {
    tree->SelectPath(Root() + QStringLiteral("data/c/deep"));
    QTreeWidgetItem* c = tree->SelectedNode()->parent();
    QTreeWidgetItem* data = c->parent();
    ASSERT_TRUE(c->isExpanded());
    tree->AddArchiveNode(data, QStringLiteral("a.vmra"));  // a node of its own, last
    MakeFile(QStringLiteral("data/a.vmra"), 0);
    QDir(Root() + QStringLiteral("data/b")).removeRecursively();
    MakeFolder(QStringLiteral("data/bb"));
    MakeFile(QStringLiteral("data/z.vmra"), 0);
    tree->ReadAgain(data);
    EXPECT_EQ(ChildTexts(data), (QStringList{"Alpha", "bb", "c", "f.vmra", "a.vmra", "x.VMRA", "y.vmra", "z.vmra"}));
    EXPECT_EQ(Child(data, QStringLiteral("c")), c);
    EXPECT_TRUE(c->isExpanded());
    EXPECT_EQ(ChildTexts(c), QStringList{"deep"});
    EXPECT_EQ(CLeftView::KindOf(Child(data, QStringLiteral("bb"))), CLeftView::kFolderNode);
    EXPECT_EQ(CLeftView::KindOf(Child(data, QStringLiteral("z.vmra"))), CLeftView::kArchiveNode);
}

// Five levels down the names still show in full: the tree scrolls across.
TEST_F(TreeTest, DeepFolderNamesStayReadable) {
    const QString deep = QStringLiteral("data/c/deep/north block/flight lines 2026/strip 0042 east");
    MakeFolder(deep);
    tree->SelectPath(Root() + deep);
    QApplication::processEvents();
    ASSERT_EQ(tree->GetItemPath(tree->SelectedNode()), Root() + deep + QLatin1Char('/'));
    ASSERT_LT(tree->viewport()->width(), 200);  // the default width
    const int needed = static_cast<const QAbstractItemView*>(tree)->sizeHintForColumn(0);
    EXPECT_GE(tree->columnWidth(0), needed) << "names are cut to fit the pane";
    EXPECT_GT(tree->horizontalScrollBar()->maximum(), 0);

    // In a pane wide enough the column fills it, so a row is selected and
    // clicked across its whole width, as before.
    QSplitter* panes = frame->Splitter();
    const QList<int> sizes = panes->sizes();
    panes->setSizes({sizes[0] + sizes[1] - 40, 40});
    QApplication::processEvents();
    ASSERT_GT(tree->viewport()->width(), needed);
    EXPECT_EQ(tree->columnWidth(0), tree->viewport()->width());
    EXPECT_EQ(tree->horizontalScrollBar()->maximum(), 0);
}
