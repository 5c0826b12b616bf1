#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QListView>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>

#include "GuiFixture.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "listview/NameTips.h"
#include "listview/RightView.h"

using guitest::GuiFixture;

namespace {
QStringList Names(const CRightView* v) {
    QStringList n;
    for (int r = 0; r < v->ItemCount(); ++r) n << v->ItemText(r);
    return n;
}
// The tool tip a hovering mouse gets over the item of view at index.
QString TipOver(QAbstractItemView* view, const QModelIndex& index) {
    QToolTip::hideText();  // hides after a short delay
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
    const QPoint at = view->visualRect(index).center();
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}
void SetTime(const QString& path, qint64 secs) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(secs), QFileDevice::FileModificationTime));
}
}  // namespace

class ListViewTest : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        frame = StartFrame();
        list = frame->RightView();
    }
    std::unique_ptr<CMainFrame> frame;
    CRightView* list = nullptr;
};

TEST_F(ListViewTest, FolderShowsLasFilesThenArchivesButNoFolders) {
    MakeFolder(QStringLiteral("f/sub"));
    MakeFolder(QStringLiteral("f/d.las"));  // a folder is never listed, whatever its name
    MakeFile(QStringLiteral("f/b.las"), 12);
    MakeFile(QStringLiteral("f/A.LAS"), 1000);
    MakeFile(QStringLiteral("f/a.vmra"), 0);
    MakeFile(QStringLiteral("f/notes.txt"));
    MakeFile(QStringLiteral("f/x.las.bak"));
    list->ShowPath(Root() + QStringLiteral("f/"));
    EXPECT_FALSE(list->ArchiveMode());
    EXPECT_EQ(Names(list), (QStringList{"..", "A.LAS", "b.las", "a.vmra"}));
    EXPECT_EQ(list->ItemText(1, 1), QStringLiteral("1.000 B"));
    EXPECT_EQ(list->ItemText(2, 1), QStringLiteral("12 B"));
    EXPECT_EQ(list->ItemText(3, 1), QStringLiteral("0 B"));
    EXPECT_EQ(list->ItemText(1, 2).size(), 16);  // dd.mm.yyyy hh:mm
    EXPECT_EQ(list->DetailsView()->model()->columnCount(), 3);
    EXPECT_EQ(list->DetailsView()->model()->headerData(2, Qt::Horizontal).toString(),
              QStringLiteral("Last modified"));
}

TEST_F(ListViewTest, EmptyPathLeavesTheListAndMissingFolderShowsOnlyUp) {
    MakeFile(QStringLiteral("g/one.las"));
    list->ShowPath(Root() + QStringLiteral("g"));
    EXPECT_EQ(list->ItemCount(), 2);
    list->ShowPath(QString());
    EXPECT_EQ(list->ItemCount(), 2);
    EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("g"));
    list->ShowPath(Root() + QStringLiteral("nowhere/"));
    EXPECT_EQ(Names(list), QStringList{".."});
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ListViewTest, SortingEachColumnTwiceKeepsUpFirst) {
    MakeFile(QStringLiteral("s/b.las"), 300);
    MakeFile(QStringLiteral("s/C.las"), 100);
    MakeFile(QStringLiteral("s/a.las"), 200);
    SetTime(Root() + QStringLiteral("s/b.las"), 1000000000);
    SetTime(Root() + QStringLiteral("s/C.las"), 1100000000);
    SetTime(Root() + QStringLiteral("s/a.las"), 900000000);
    list->ShowPath(Root() + QStringLiteral("s/"));

    list->OnHeaderClick(0);
    EXPECT_EQ(Names(list), (QStringList{"..", "a.las", "b.las", "C.las"}));
    list->OnHeaderClick(0);
    EXPECT_EQ(Names(list), (QStringList{"..", "C.las", "b.las", "a.las"}));
    list->OnHeaderClick(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "b.las", "a.las", "C.las"}));
    list->OnHeaderClick(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "C.las", "a.las", "b.las"}));
    list->OnHeaderClick(2);
    EXPECT_EQ(Names(list), (QStringList{"..", "C.las", "b.las", "a.las"}));
    list->OnHeaderClick(2);
    EXPECT_EQ(Names(list), (QStringList{"..", "a.las", "b.las", "C.las"}));

    // The sort stays through a new listing of the same mode.
    MakeFile(QStringLiteral("s/d.las"), 5);
    SetTime(Root() + QStringLiteral("s/d.las"), 800000000);
    list->ShowPath(Root() + QStringLiteral("s/"));
    EXPECT_EQ(Names(list), (QStringList{"..", "d.las", "a.las", "b.las", "C.las"}));
}

TEST_F(ListViewTest, HeaderClickThroughTheWidget) {
    MakeFile(QStringLiteral("h/small.las"), 1);
    MakeFile(QStringLiteral("h/large.las"), 9000);
    list->SetType(listview::kDetails);
    list->ShowPath(Root() + QStringLiteral("h/"));
    emit list->DetailsView()->header()->sectionClicked(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "large.las", "small.las"}));
    EXPECT_EQ(list->SortColumn(), 1);
    EXPECT_EQ(list->SortDirection(), 1);
}

// Clicked as a user clicks it, the sorted column's heading shows an arrow
// the way its values run; no arrow before the first click nor after a
// change of folder to archive, whose sort starts afresh.
TEST_F(ListViewTest, TheSortedColumnShowsAnArrow) {
    MakeFile(QStringLiteral("h/small.las"), 1);
    MakeFile(QStringLiteral("h/large.las"), 9000);
    QFile(Root() + QStringLiteral("h/e.vmra")).open(QIODevice::WriteOnly);
    list->SetType(listview::kDetails);
    list->ShowPath(Root() + QStringLiteral("h/"));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    QHeaderView* header = list->DetailsView()->header();
    auto heading = [header](int column) {
        return header->viewport()->grab(QRect(header->sectionViewportPosition(column), 0,
                                              header->sectionSize(column), header->height())).toImage();
    };
    auto click = [header](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QApplication::processEvents();
    };
    const QImage plainSize = heading(1);
    EXPECT_FALSE(header->isSortIndicatorShown());

    click(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "large.las", "small.las", "e.vmra"}));
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);  // largest first
    const QImage sortedSize = heading(1);
    EXPECT_NE(sortedSize, plainSize) << "no arrow drawn";

    click(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "e.vmra", "small.las", "large.las"}));
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_NE(heading(1), sortedSize) << "the arrow did not turn";

    click(0);
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);  // A to Z
    EXPECT_EQ(heading(1), plainSize) << "the old column kept its arrow";

    list->ShowPath(Root() + QStringLiteral("h/e.vmra"));
    EXPECT_FALSE(header->isSortIndicatorShown());
}

TEST_F(ListViewTest, FilesOfTwoGibibytesAndMoreShowAndSortRight) {
    MakeFile(QStringLiteral("big/huge.las"), 3221225472LL);  // sparse: costs no disk
    MakeFile(QStringLiteral("big/wrap.las"), 4294967296LL + 10);
    MakeFile(QStringLiteral("big/tiny.las"), 20);
    list->ShowPath(Root() + QStringLiteral("big/"));
    list->OnHeaderClick(1);
    EXPECT_EQ(Names(list), (QStringList{"..", "wrap.las", "huge.las", "tiny.las"}));
    EXPECT_EQ(list->ItemText(1, 1), QStringLiteral("4.294.967.306 B"));
    EXPECT_EQ(list->ItemText(2, 1), QStringLiteral("3.221.225.472 B"));
}

TEST_F(ListViewTest, ColumnWidthsAreRecordedOnlyWhileSwitchedOn) {
    list->SetType(listview::kDetails);
    list->ShowPath(Root());
    list->SetRecordWidths(true);
    list->DetailsView()->setColumnWidth(1, 140);
    EXPECT_EQ(list->Widths(false)[1], 140);
    list->SetRecordWidths(false);
    list->DetailsView()->setColumnWidth(1, 60);
    EXPECT_EQ(list->Widths(false)[1], 140);
    list->SetWidth(false, 2, 222);
    list->ApplyColumnWidths();
    EXPECT_EQ(list->DetailsView()->columnWidth(2), 222);
}

TEST_F(ListViewTest, SelectionByRowNeverCountsUp) {
    MakeFile(QStringLiteral("sel/a.las"));
    MakeFile(QStringLiteral("sel/b.vmra"), 0);
    list->ShowPath(Root() + QStringLiteral("sel/"));
    list->SetItemSelected(0, true);
    list->SetItemSelected(2, true);
    EXPECT_EQ(list->SelectedNames(), QStringList{"b.vmra"});
    EXPECT_TRUE(list->IsItemSelected(2));
    EXPECT_FALSE(list->IsItemSelected(1));
}

TEST(NameTipsTest, TextIsCutWhenItDoesNotFitItsRoom) {
    const QFont font = QApplication::font();
    const QFontMetrics fm(font);
    const QString name = QStringLiteral("flight_line_0042_north.las");
    const int width = fm.horizontalAdvance(name);
    const int line = fm.height();
    EXPECT_FALSE(listview::IsTextCut(font, name, QSize(width + 4, line), false));
    EXPECT_TRUE(listview::IsTextCut(font, name, QSize(width / 2, line), false));
    // Wrapped onto lines: cut when the lines need more height than there is,
    // or a single word is wider than the room.
    const QString words = QStringLiteral("north strip of the survey");
    const int wordWidth = fm.horizontalAdvance(QStringLiteral("survey")) + 4;
    EXPECT_FALSE(listview::IsTextCut(font, words, QSize(wordWidth, line * 8), true));
    EXPECT_TRUE(listview::IsTextCut(font, words, QSize(wordWidth, line * 2), true));
    EXPECT_TRUE(listview::IsTextCut(font, name, QSize(width / 2, line * 8), true));
}

// Hovering over a name that its column, the icon grid or the tree's width cut
// off shows the whole name; a name shown whole gets no tip.
TEST_F(ListViewTest, CutOffNamesShowInFullAsToolTips) {
    const QString longName = QStringLiteral("survey_2026_block_17_flight_line_0042_north_strip.las");
    MakeFile(QStringLiteral("names/a.las"));
    MakeFile(QStringLiteral("names/") + longName);
    MakeFolder(QStringLiteral("names/a_folder_with_a_name_far_too_long_for_the_tree_pane"));
    frame->LeftView()->SelectPath(Root() + QStringLiteral("names"));
    const int shortRow = 1, longRow = 2;
    ASSERT_EQ(list->ItemText(longRow), longName);

    list->SetType(listview::kDetails);
    list->DetailsView()->setColumnWidth(0, 120);
    QApplication::processEvents();
    QAbstractItemView* details = list->DetailsView();
    EXPECT_EQ(TipOver(details, details->model()->index(longRow, 0)), longName);
    EXPECT_EQ(TipOver(details, details->model()->index(shortRow, 0)), QString());

    list->SetType(listview::kLargeIcons);
    QApplication::processEvents();
    QAbstractItemView* icons = list->IconView();
    EXPECT_EQ(TipOver(icons, icons->model()->index(longRow, 0)), longName);
    EXPECT_EQ(TipOver(icons, icons->model()->index(shortRow, 0)), QString());

    CLeftView* tree = frame->LeftView();
    QTreeWidgetItem* names = tree->SelectedNode();
    ASSERT_NE(names, nullptr);
    names->setExpanded(true);
    ASSERT_EQ(names->childCount(), 1);
    QApplication::processEvents();
    const QModelIndex folder = tree->indexFromItem(names->child(0));
    EXPECT_EQ(TipOver(tree, folder), QStringLiteral("a_folder_with_a_name_far_too_long_for_the_tree_pane"));
    EXPECT_EQ(TipOver(tree, tree->indexFromItem(names)), QString());
}
