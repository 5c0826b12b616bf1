#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "GuiFixture.h"
#include "app/AppMessages.h"
#include "app/CommandIds.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "app/MyToolBar.h"
#include "listview/RightView.h"
#include "platform/Settings.h"

using guitest::GuiFixture;
using guitest::ScriptedUi;
using platform::MsgIcon;
using platform::WindowPlacement;

namespace {

QStringList MenuTexts(const QMenu* menu) {
    QStringList t;
    for (const QAction* a : menu->actions()) t << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return t;
}

WindowPlacement StoredPlacement(const char* key) {
    WindowPlacement p;
    EXPECT_TRUE(platform::ParsePlacement(platform::CSettingsStore::Read(QString::fromLatin1(key)), &p))
        << key;
    return p;
}

}  // namespace

class FrameSettingsTest : public GuiFixture {};

// The whole tool bar is in view: no button is pushed into its overflow menu.
static void ExpectWholeToolBar(CMainFrame& frame) {
    QApplication::processEvents();
    for (QAction* a : frame.ToolBar()->actions()) {
        if (a->isSeparator()) continue;
        QWidget* button = frame.ToolBar()->widgetForAction(a);
        ASSERT_NE(button, nullptr) << a->iconText().toStdString();
        EXPECT_TRUE(button->isVisible()) << a->iconText().toStdString();
        EXPECT_LE(button->geometry().right(), frame.ToolBar()->contentsRect().right()) << a->iconText().toStdString();
    }
}

TEST_F(FrameSettingsTest, FirstStartWithAnEmptyStore) {
    auto frame = StartFrame();
    EXPECT_EQ(frame->geometry().topLeft(), QPoint(100, 100));
    EXPECT_EQ(frame->geometry().height(), 450);
    EXPECT_GE(frame->geometry().width(), 600);
    ExpectWholeToolBar(*frame);
    EXPECT_EQ(frame->LeftView()->width(), 150);
    EXPECT_EQ(frame->RightView()->Type(), listview::kLargeIcons);
    EXPECT_EQ(frame->LeftView()->SelectedNode(), nullptr);
    EXPECT_TRUE(frame->RightView()->CurrentPath().isEmpty());
    const std::vector<int> fw = frame->RightView()->Widths(false);
    const std::vector<int> aw = frame->RightView()->Widths(true);
    EXPECT_EQ((std::vector<int>{fw[0], fw[1], fw[2]}), (std::vector<int>{100, 100, 150}));
    EXPECT_EQ((std::vector<int>{aw[0], aw[1], aw[2], aw[3]}), (std::vector<int>{100, 100, 150, 150}));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Velmora"));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(FrameSettingsTest, WrittenOnCloseAndRestoredOnStart) {
    MakeFolder(QStringLiteral("survey/lines"));
    {
        auto frame = StartFrame();
        frame->setGeometry(120, 130, 700, 500);
        QApplication::processEvents();
        frame->Splitter()->setSizes({220, 480 - frame->Splitter()->handleWidth()});
        frame->Action(cmd::kDetails)->trigger();
        frame->LeftView()->SelectPath(Root() + QStringLiteral("survey"));
        frame->RightView()->DetailsView()->setColumnWidth(0, 180);
        frame->RightView()->SetWidth(true, 2, 77);
        CloseFrame(frame);
    }
    const WindowPlacement w = StoredPlacement("window");
    EXPECT_EQ(w.showCmd, WindowPlacement::kShowNormal);
    EXPECT_EQ(QRect(w.left, w.top, w.Width(), w.Height()), QRect(120, 130, 700, 500));
    EXPECT_EQ(StoredPlacement("left").Width(), 220);
    int32_t style = 0;
    ASSERT_TRUE(platform::ParseStyle(ReadSetting("Style"), &style));
    EXPECT_EQ(style & 3, listview::kDetails);
    EXPECT_EQ(ReadSetting("Path"), Root() + QStringLiteral("survey/"));
    EXPECT_EQ(ReadSetting("ColWidthNormal"), QStringLiteral("180, 100, 150"));
    EXPECT_EQ(ReadSetting("ColWidthReport"), QStringLiteral("100, 100, 77, 150, 60, 60, 100, 80"));

    auto again = StartFrame();
    EXPECT_EQ(again->geometry(), QRect(120, 130, 700, 500));
    EXPECT_EQ(again->LeftView()->width(), 220);
    EXPECT_EQ(again->RightView()->Type(), listview::kDetails);
    EXPECT_TRUE(again->Action(cmd::kDetails)->isChecked());
    EXPECT_EQ(again->LeftView()->GetItemPath(again->LeftView()->SelectedNode()),
              Root() + QStringLiteral("survey/"));
    EXPECT_EQ(again->RightView()->CurrentPath(), Root() + QStringLiteral("survey"));
    EXPECT_EQ(again->RightView()->DetailsView()->columnWidth(0), 180);
    EXPECT_EQ(again->RightView()->Widths(true)[2], 77);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(FrameSettingsTest, ClosingMinimisedStoresAShowCommandThatShowsTheWindow) {
    auto frame = StartFrame();
    frame->setWindowState(Qt::WindowMinimized);
    CloseFrame(frame);
    EXPECT_EQ(StoredPlacement("window").showCmd, WindowPlacement::kShow);

    frame = StartFrame();
    frame->setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    CloseFrame(frame);
    const WindowPlacement p = StoredPlacement("window");
    EXPECT_EQ(p.showCmd, WindowPlacement::kShowMaximized);
    EXPECT_TRUE(p.flags & WindowPlacement::kRestoreToMaximized);
    frame = StartFrame();
    EXPECT_TRUE(frame->isMaximized());
}

TEST_F(FrameSettingsTest, MissingPartialAndGarbageValuesKeepTheDefaults) {
    WriteSetting("window", QStringLiteral("0,1,-1,-1,-1,-1,300,300,900"));  // nine numbers
    WriteSetting("left", QStringLiteral("left pane"));
    WriteSetting("Style", QStringLiteral("report"));
    WriteSetting("Path", Root() + QStringLiteral("gone/"));
    WriteSetting("ColWidthReport", QStringLiteral("80, 90"));
    WriteSetting("ColWidthNormal", QStringLiteral("wide, 12"));
    auto frame = StartFrame();
    ScriptedUi otherUi;
    CMainFrame fresh(otherUi, &places);  // as made, before any setting counts
    EXPECT_EQ(frame->geometry(), fresh.geometry());
    EXPECT_EQ(frame->LeftView()->width(), 150);
    EXPECT_EQ(frame->RightView()->Type(), listview::kLargeIcons);
    EXPECT_TRUE(frame->RightView()->CurrentPath().isEmpty());
    const std::vector<int> aw = frame->RightView()->Widths(true);
    EXPECT_EQ((std::vector<int>{aw[0], aw[1], aw[2], aw[3]}), (std::vector<int>{80, 90, 150, 150}));
    EXPECT_EQ(frame->RightView()->Widths(false)[0], 100);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(FrameSettingsTest, DamagedPlacementNeverHidesTheWindow) {
    // Hidden, a rectangle of no size, and one far off every screen.
    for (const char* bad : {"0,0,-1,-1,-1,-1,100,100,700,550", "0,1,-1,-1,-1,-1,5,5,5,5",
                            "0,1,-1,-1,-1,-1,90000,90000,90600,90450"}) {
        WriteSetting("window", QString::fromLatin1(bad));
        auto frame = StartFrame();
        EXPECT_TRUE(frame->isVisible()) << bad;
        EXPECT_FALSE(frame->isMinimized()) << bad;
        EXPECT_GE(frame->width(), 200) << bad;
        EXPECT_LT(frame->x(), 20000) << bad;
    }
}

TEST_F(FrameSettingsTest, StoredStyleRestoresEachListType) {
    const struct { int bits; listview::ListType type; } cases[] = {
        {0, listview::kLargeIcons}, {1, listview::kDetails}, {2, listview::kSmallIcons}, {3, listview::kList}};
    for (const auto& c : cases) {
        WriteSetting("Style", QString::number(listview::kListStyleBase | c.bits));
        auto frame = StartFrame();
        EXPECT_EQ(frame->RightView()->Type(), c.type) << c.bits;
    }
}

TEST_F(FrameSettingsTest, WidthsOffScreenAreTheRememberedOnes) {
    auto frame = StartFrame();
    frame->Action(cmd::kDetails)->trigger();
    frame->RightView()->DetailsView()->setColumnWidth(0, 200);
    frame->Action(cmd::kLargeIcons)->trigger();
    frame->RightView()->SetRecordWidths(false);
    frame->RightView()->DetailsView()->setColumnWidth(0, 300);
    CloseFrame(frame);
    EXPECT_EQ(ReadSetting("ColWidthNormal"), QStringLiteral("200, 100, 150"));
}

TEST_F(FrameSettingsTest, RecentFilesArePersisted) {
    MakeFolder(QStringLiteral("a"));
    auto frame = StartFrame();
    ui.openNames.push_back(Root() + QStringLiteral("a"));
    frame->Action(cmd::kOpen)->trigger();
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("a"));
    EXPECT_EQ(frame->LeftView()->GetItemPath(frame->LeftView()->SelectedNode()), Root() + QStringLiteral("a/"));
    CloseFrame(frame);
    EXPECT_EQ(platform::CSettingsStore::ReadRecentFiles(), QStringList{Root() + QStringLiteral("a")});
    frame = StartFrame();
    EXPECT_EQ(frame->RecentFiles(), QStringList{Root() + QStringLiteral("a")});
}

class FrameCommandTest : public GuiFixture {};

TEST_F(FrameCommandTest, MenusHoldEveryEntryInOrder) {
    auto frame = StartFrame();
    const QList<QAction*> menus = frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Edit"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&View"));
    EXPECT_EQ(menus[3]->text(), QStringLiteral("&Help"));
    EXPECT_EQ(MenuTexts(menus[0]->menu()),
              (QStringList{"&New\tCtrl+N", "&Open...\tCtrl+O", "Save &As...\tCtrl+S", "-",
                           "Recent &File", "-", "E&xit"}));
    EXPECT_EQ(MenuTexts(menus[1]->menu()),
              (QStringList{"&Add to ...", "&Delete file\tDelete", "&Extract to ...", "Extract &here", "&Test", "-",
                           "&Select all\tCtrl+A", "Deselect a&ll\tCtrl+D", "&Inverse selection\tCtrl+I",
                           "-", "&Find\tCtrl+F"}));
    EXPECT_EQ(MenuTexts(menus[2]->menu()),
              (QStringList{"&Toolbar", "&Status Bar", "Details &Pane", "-", "Lar&ge icons", "S&mall icons",
                           "&List", "&Details", "-", "&Refresh\tF5"}));
    EXPECT_EQ(MenuTexts(menus[3]->menu()),
              (QStringList{"Online &Help", "Online &Info", "-", "&Contacts", "&About LAS"}));
    EXPECT_EQ(frame->Action(cmd::kAdd)->statusTip(), QStringLiteral("Add to archive"));
    EXPECT_EQ(frame->Action(cmd::kExtractHere)->statusTip(),
              QStringLiteral("Extract all files in current folder"));
    EXPECT_EQ(frame->Action(cmd::kOpen)->statusTip(), QStringLiteral("Open an VMORA file"));
    EXPECT_EQ(frame->Action(cmd::kSaveAs)->shortcut(), QKeySequence());
    EXPECT_EQ(frame->Action(cmd::kRefresh)->shortcut(), QKeySequence(Qt::Key_F5));
}

TEST_F(FrameCommandTest, ToolBarHasTheTenItemsWithLabels) {
    auto frame = StartFrame();
    QStringList labels;
    for (QAction* a : frame->ToolBar()->actions())
        labels << (a->isSeparator() ? QStringLiteral("-") : a->iconText());
    EXPECT_EQ(labels, (QStringList{"New", "Open", "Add", "Extract", "Delete", "Find", "-", "View", "-",
                                   "About"}));
    EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(64, 64));
    EXPECT_EQ(frame->ToolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    auto* view = qobject_cast<QToolButton*>(frame->ToolBar()->widgetForAction(frame->Action(cmd::kView)));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->popupMode(), QToolButton::MenuButtonPopup);
    EXPECT_EQ(MenuTexts(frame->Action(cmd::kView)->menu()),
              (QStringList{"Lar&ge icons", "S&mall icons", "&List", "&Details"}));
    for (QAction* a : frame->ToolBar()->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().pixmap(64).toImage().pixelColor(32, 32).alpha() == 0 &&
                         a->icon().pixmap(64).toImage().pixelColor(20, 40).alpha() == 0)
                << a->iconText().toStdString();
        }
    }
    frame->ToolBar()->ShowButtonText(false);
    EXPECT_EQ(frame->ToolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_GT(frame->ToolBar()->ButtonSizeWithText().height(), frame->ToolBar()->ButtonSizeWithoutText().height());
}

TEST_F(FrameCommandTest, SaveAsIsNotImplementedAndCtrlSDoesNothing) {
    auto frame = StartFrame();
    QTest::keyClick(frame.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(ui.shown.empty());
    frame->Action(cmd::kSaveAs)->trigger();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Not implemented."));
    EXPECT_EQ(ui.shown[0].caption, QStringLiteral("Velmora"));
    EXPECT_EQ(ui.shown[0].buttons, platform::MsgButtons::Ok);
}

TEST_F(FrameCommandTest, EachWindowAsksThroughItsOwnPlatform) {
    auto first = StartFrame();
    guitest::ScriptedUi otherUi;
    CMainFrame second(otherUi, &places);
    second.Action(cmd::kSaveAs)->trigger();
    EXPECT_TRUE(ui.shown.empty());
    ASSERT_EQ(otherUi.shown.size(), 1u);
    first->Action(cmd::kSaveAs)->trigger();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(otherUi.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Not implemented."));
}

TEST_F(FrameCommandTest, ListCommandsFollowTheActivePane) {
    auto frame = StartFrame();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    CRightView* list = frame->RightView();
    listview::CommandFlags flags;
    flags.canAdd = flags.canDelete = flags.canExtract = flags.canExtractHere = true;
    list->SetFlags(flags);

    frame->LeftView()->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(frame->ListActive());
    for (int id : {cmd::kAdd, cmd::kDelete, cmd::kExtractTo, cmd::kExtractHere})
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(frame->ListActive());
    EXPECT_TRUE(list->isAncestorOf(QApplication::focusWidget()));
    for (int id : {cmd::kAdd, cmd::kDelete, cmd::kExtractTo, cmd::kExtractHere})
        EXPECT_TRUE(frame->Action(id)->isEnabled()) << id;
    flags.canAdd = false;
    list->SetFlags(flags);
    frame->UpdateCommandUi();
    EXPECT_FALSE(frame->Action(cmd::kAdd)->isEnabled());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_FALSE(frame->ListActive());
    EXPECT_EQ(QApplication::focusWidget(), frame->LeftView());
}

TEST_F(FrameCommandTest, ViewStylesFromMenuAndTheirRadioMark) {
    auto frame = StartFrame();
    const struct { int id; listview::ListType type; } cases[] = {
        {cmd::kDetails, listview::kDetails}, {cmd::kSmallIcons, listview::kSmallIcons},
        {cmd::kList, listview::kList}, {cmd::kLargeIcons, listview::kLargeIcons}};
    for (const auto& c : cases) {
        frame->Action(c.id)->trigger();
        EXPECT_EQ(frame->RightView()->Type(), c.type);
        EXPECT_TRUE(frame->Action(c.id)->isChecked());
        EXPECT_EQ(frame->RightView()->Style() & 3, c.type);
    }
}

TEST_F(FrameCommandTest, RefreshSeesChangesOnDisk) {
    MakeFolder(QStringLiteral("d"));
    auto frame = StartFrame();
    frame->LeftView()->SelectPath(Root() + QStringLiteral("d"));
    EXPECT_EQ(frame->RightView()->ItemCount(), 1);
    MakeFile(QStringLiteral("d/new.las"));
    MakeFolder(QStringLiteral("d/inner"));
    frame->Action(cmd::kRefresh)->trigger();
    EXPECT_EQ(frame->RightView()->ItemCount(), 2);
    EXPECT_EQ(frame->RightView()->ItemText(1), QStringLiteral("new.las"));
    QTreeWidgetItem* d = frame->LeftView()->SelectedNode();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(frame->LeftView()->GetItemPath(d), Root() + QStringLiteral("d/"));
    ASSERT_EQ(d->childCount(), 1);
    EXPECT_EQ(d->child(0)->text(0), QStringLiteral("inner"));
}

// The user comes back from a file manager that copied a file in.
TEST_F(FrameCommandTest, ComingBackToTheWindowRefreshesTheListKeepingSelectionAndScroll) {
    for (int i = 0; i < 60; ++i) MakeFile(QStringLiteral("back/f%1.las").arg(i, 2, 10, QLatin1Char('0')));
    auto frame = StartFrame();
    CRightView* list = frame->RightView();
    frame->LeftView()->SelectPath(Root() + QStringLiteral("back"));
    emit qApp->applicationStateChanged(Qt::ApplicationActive);  // the start, if not seen yet
    for (const int style : {cmd::kDetails, cmd::kLargeIcons}) {
        SCOPED_TRACE(style);
        QFile::remove(Root() + QStringLiteral("back/new.las"));
        frame->Action(style)->trigger();
        frame->Action(cmd::kRefresh)->trigger();
        ASSERT_EQ(list->ItemCount(), 61);
        list->SetItemSelected(11, true);  // f10.las
        list->SetItemSelected(51, true);  // f50.las
        auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
        QScrollBar* scroll = view->verticalScrollBar();
        QApplication::processEvents();
        scroll->setValue(scroll->maximum() / 2);
        const int at = scroll->value();
        ASSERT_GT(at, 0);

        MakeFile(QStringLiteral("back/new.las"));
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        ASSERT_EQ(list->ItemCount(), 62);
        EXPECT_EQ(list->ItemText(61), QStringLiteral("new.las"));
        EXPECT_EQ(list->SelectedNames(), (QStringList{"f10.las", "f50.las"}));
        EXPECT_EQ(list->ItemText(list->CurrentRow()), QStringLiteral("f50.las"));
        EXPECT_EQ(scroll->value(), at);
        EXPECT_EQ(list->CurrentPath(), Root() + QStringLiteral("back/"));
    }
    EXPECT_TRUE(ui.shown.empty());
}

// Nothing changed on disk: coming back lists nothing again, so a damaged
// archive's message is not repeated on every return to the window.
TEST_F(FrameCommandTest, ComingBackWithNothingChangedListsNothingAgain) {
    MakeFile(QStringLiteral("bad/fake.vmra"), 100);
    WriteSetting("Path", Root() + QStringLiteral("bad/fake.vmra"));
    auto frame = StartFrame();
    const QString wrong = QStringLiteral("Wrong file format!\n\n") + Root() + QStringLiteral("bad/fake.vmra");
    ASSERT_EQ(ui.Texts(), QStringList{wrong});
    for (int i = 0; i < 2; ++i) {
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
    }
    EXPECT_EQ(ui.Texts(), QStringList{wrong});
    // The archive is changed by another program: it is listed again.
    QFile fake(Root() + QStringLiteral("bad/fake.vmra"));
    ASSERT_TRUE(fake.open(QIODevice::Append));
    fake.write("more");
    fake.close();
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(ui.Texts(), (QStringList{wrong, wrong}));
}

TEST_F(FrameCommandTest, HelpOpensTheBundledPages) {
    auto frame = StartFrame();
    frame->Action(cmd::kOnlineHelp)->trigger();
    frame->Action(cmd::kOnlineInfo)->trigger();
    ASSERT_EQ(ui.urls.size(), 2u);
    EXPECT_TRUE(ui.urls[0].isLocalFile());
    EXPECT_TRUE(ui.urls[0].toLocalFile().endsWith(QStringLiteral("/tut.html")));
    EXPECT_TRUE(ui.urls[1].toLocalFile().endsWith(QStringLiteral("/index.html")));
    for (const QUrl& u : ui.urls) {
        QFile page(u.toLocalFile());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        EXPECT_TRUE(page.readAll().contains("Velmora"));
    }
    EXPECT_TRUE(ui.shown.empty());

    EXPECT_TRUE(ui.shownWindows.isEmpty());
}

// No browser: the bundled pages show in a window of the program's own.
TEST_F(FrameCommandTest, HelpWithoutABrowserShowsThePagesItself) {
    auto frame = StartFrame();
    ui.browserWorks = false;
    frame->Action(cmd::kOnlineHelp)->trigger();
    EXPECT_TRUE(ui.shown.empty()) << ui.Texts().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(ui.shownWindows, QStringList{"Velmora Help"});
    auto* page = frame->findChild<QTextBrowser*>(QStringLiteral("helpPage"));
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->window()->isVisible());
    EXPECT_TRUE(page->source().toString().endsWith(QStringLiteral("/tut.html")));
    const QString tutorial = page->toPlainText();
    EXPECT_TRUE(tutorial.contains(QStringLiteral("Velmora")));

    frame->Action(cmd::kOnlineInfo)->trigger();
    EXPECT_EQ(ui.shownWindows.size(), 2);
    EXPECT_EQ(frame->findChildren<QTextBrowser*>(QStringLiteral("helpPage")).size(), 1);  // the same window
    EXPECT_TRUE(page->source().toString().endsWith(QStringLiteral("/index.html")));
    EXPECT_NE(page->toPlainText(), tutorial);

    // The page's link to the tutorial, followed with the keyboard.
    page->setFocus();
    QTest::keyClick(page, Qt::Key_Tab);
    QTest::keyClick(page, Qt::Key_Return);
    EXPECT_TRUE(page->source().toString().endsWith(QStringLiteral("/tut.html")));
    EXPECT_EQ(page->toPlainText(), tutorial);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(FrameCommandTest, AboutAndContactsBoxes) {
    auto frame = StartFrame();
    QString aboutText;
    ui.dialogSteps.push_back([&](QDialog& d) {
        const auto* picture = d.findChild<QLabel*>(QStringLiteral("picture"));
        EXPECT_TRUE(picture && !picture->pixmap().isNull());
        for (const QLabel* l : d.findChildren<QLabel*>()) aboutText += l->text();
        return int(QDialog::Accepted);
    });
    frame->Action(cmd::kAbout)->trigger();
    frame->Action(cmd::kContacts)->trigger();
    EXPECT_EQ(ui.dialogTitles, (QStringList{"About Velmora for LAS 1.2", "Contacts"}));
    EXPECT_TRUE(aboutText.contains(QStringLiteral("Velmora for LAS 1.2")));
}

// At the window's first size the pages need no scrolling across: nothing
// of a line is cut off at the right (the command examples least of all).
TEST_F(FrameCommandTest, TheHelpPagesFitTheHelpWindowAcross) {
    auto frame = StartFrame();
    ui.browserWorks = false;
    for (const int command : {cmd::kOnlineInfo, cmd::kOnlineHelp}) {
        frame->Action(command)->trigger();
        auto* page = frame->findChild<QTextBrowser*>(QStringLiteral("helpPage"));
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page->window()));
        QApplication::processEvents();
        SCOPED_TRACE(page->source().toString().toStdString());
        EXPECT_EQ(page->horizontalScrollBar()->maximum(), 0)
            << "page " << page->document()->size().width() << " wide, view " << page->viewport()->width();
        EXPECT_FALSE(page->horizontalScrollBar()->isVisible());
    }
    auto* page = frame->findChild<QTextBrowser*>(QStringLiteral("helpPage"));
    frame->Action(cmd::kOnlineInfo)->trigger();
    QApplication::processEvents();
    for (const char* text : {"velmora -d a.las data.vmra", "extract one entry into the current folder",
                             "velmora data.vmra", "open the window at the archive"})
        EXPECT_TRUE(page->toPlainText().contains(QString::fromLatin1(text))) << text;
}

// The program's own help window: Escape closes it, as it does a dialog, and
// the next Help command brings it back.
TEST_F(FrameCommandTest, EscapeClosesTheHelpWindow) {
    auto frame = StartFrame();
    ui.browserWorks = false;
    frame->Action(cmd::kOnlineHelp)->trigger();
    auto* page = frame->findChild<QTextBrowser*>(QStringLiteral("helpPage"));
    ASSERT_NE(page, nullptr);
    QWidget* help = page->window();
    help->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    page->setFocus();
    QTest::keyClick(page, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(help->isVisible());
    frame->Action(cmd::kOnlineInfo)->trigger();
    EXPECT_TRUE(help->isVisible());
}
