#include "app/MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>

#include "app/AppMessages.h"
#include "app/CommandIds.h"
#include "app/HelpDialogs.h"
#include "platform/Icons.h"
#include "app/LeftView.h"
#include "app/MyToolBar.h"
#include "listview/DetailsPane.h"
#include "listview/ListMessages.h"
#include "listview/RightView.h"
#include "platform/Paths.h"
#include "platform/PlatformUi.h"

using platform::CSettingsStore;
using platform::WindowPlacement;

namespace {
const char* const kWindowKey = "window";
const char* const kLeftKey = "left";
const char* const kRightKey = "right";
const char* const kDetailsKey = "details";
const char* const kDetailsShownKey = "DetailsPane";
const char* const kColShownReportKey = "ColShownReport";
const char* const kColShownNormalKey = "ColShownNormal";
const char* const kStyleKey = "Style";
const char* const kPathKey = "Path";
const char* const kColWidthReportKey = "ColWidthReport";
const char* const kColWidthNormalKey = "ColWidthNormal";

QString Key(const char* k) { return QString::fromLatin1(k); }

// The list's file commands: what runs them and the flag that enables them.
// A new list command (such as a test of the selected archives) is one row
// here, one flag and handler in the list, one entry in its pop-up menu.
const struct {
    int id;
    void (CRightView::*run)();
    bool listview::CommandFlags::*allowed;
} kListCommands[] = {{cmd::kAdd, &CRightView::AddSelected, &listview::CommandFlags::canAdd},
                     {cmd::kDelete, &CRightView::DeleteSelected, &listview::CommandFlags::canDelete},
                     {cmd::kExtractTo, &CRightView::ExtractTo, &listview::CommandFlags::canExtract},
                     {cmd::kExtractHere, &CRightView::ExtractHere, &listview::CommandFlags::canExtractHere},
                     {cmd::kTest, &CRightView::TestSelected, &listview::CommandFlags::canTest}};

// A stored rectangle is used only when it could be a window on some screen;
// anything else is damage and the created position stays.
bool UsableRect(const QRect& r) {
    if (r.width() < 200 || r.height() < 150 || r.width() > 16384 || r.height() > 16384)
        return false;
    for (QScreen* s : QGuiApplication::screens())
        if (s->availableVirtualGeometry().intersects(r)) return true;
    return QGuiApplication::screens().isEmpty();
}
}  // namespace

CMainFrame::CMainFrame(platform::IPlatformUi& ui, const std::vector<platform::MountPoint>* places,
                       QWidget* parent)
    : QMainWindow(parent), places(places), ui(ui) {
    setObjectName(QStringLiteral("mainFrame"));
    OnCreate();
    OnCreateClient();
    // The views' first update: the tree gets its places.
    if (places)
        leftView->OnInitialUpdate(*places);
    else
        leftView->OnInitialUpdate();
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);
    // The user comes to the window from another program, and the disk may
    // have changed meanwhile. The first activation is normally the start
    // itself, unless the program was active already when this frame was made.
    seenActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive) return;
        OnApplicationActivated();
        seenActive = true;
    });
    connect(rightView, &CRightView::Listed, this, &CMainFrame::UpdateCommandUi);
    connect(rightView, &CRightView::FlagsChanged, this, &CMainFrame::UpdateCommandUi);
    for (auto signal : {&CRightView::Listed, &CRightView::SelectionChanged}) {
        connect(rightView, signal, this, &CMainFrame::ShowSelectedDetails);
        connect(rightView, signal, this, &CMainFrame::UpdateSummary);
    }
    // Adding to or deleting from an archive waits for its readers: the
    // pane lets go of the one it reads.
    connect(rightView, &CRightView::ArchiveChanging, detailsPane, &CDetailsPane::StopPreview);
    // What the archive layer says while the list reads an archive (an
    // interrupted change was undone) is said once, in the status bar.
    connect(rightView, &CRightView::Notice, this, [this](const QString& text) { statusBarWidget->showMessage(text); });
    ConnectListCommands();
    UpdateCommandUi();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::MakeAction(int id, const char* text, const char* prompt) {
    auto* a = new QAction(QString::fromUtf8(text), this);
    if (prompt) a->setStatusTip(QString::fromUtf8(prompt));
    a->setData(id);
    actions.insert(id, a);
    return a;
}

void CMainFrame::BuildActions() {
    MakeAction(cmd::kNew, appmsg::kNew, appmsg::kPromptNew)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    MakeAction(cmd::kOpen, appmsg::kOpen, appmsg::kPromptOpen)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    // Save As has an accelerator hint in its text but no key of its own.
    MakeAction(cmd::kSaveAs, appmsg::kSaveAs, appmsg::kPromptSaveAs);
    MakeAction(cmd::kExit, appmsg::kExit);
    MakeAction(cmd::kAdd, appmsg::kAddTo, appmsg::kPromptAdd);
    MakeAction(cmd::kDelete, appmsg::kDeleteFile, appmsg::kPromptDelete)->setShortcut(QKeySequence(Qt::Key_Delete));
    MakeAction(cmd::kExtractTo, appmsg::kExtractTo, appmsg::kPromptExtract);
    MakeAction(cmd::kExtractHere, appmsg::kExtractHere, appmsg::kPromptExtractHere);
    MakeAction(cmd::kTest, appmsg::kTest, appmsg::kPromptTest);
    MakeAction(cmd::kSelectAll, appmsg::kSelectAll, appmsg::kPromptSelectAll)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    MakeAction(cmd::kDeselectAll, appmsg::kDeselectAll, appmsg::kPromptDeselectAll)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    MakeAction(cmd::kInvertSelection, appmsg::kInverseSelection, appmsg::kPromptInverse)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    MakeAction(cmd::kFind, appmsg::kFind)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    MakeAction(cmd::kToolbar, appmsg::kToolbar)->setCheckable(true);
    MakeAction(cmd::kStatusBar, appmsg::kStatusBar)->setCheckable(true);
    MakeAction(cmd::kDetailsPane, appmsg::kDetailsPane, appmsg::kPromptDetailsPane)->setCheckable(true);
    viewGroup = new QActionGroup(this);
    viewGroup->setExclusive(true);
    for (auto [id, text] : {std::pair{cmd::kLargeIcons, listmsg::kLargeIcons},
                            std::pair{cmd::kSmallIcons, listmsg::kSmallIcons},
                            std::pair{cmd::kList, listmsg::kList},
                            std::pair{cmd::kDetails, listmsg::kDetails}}) {
        QAction* a = MakeAction(id, text);
        a->setCheckable(true);
        viewGroup->addAction(a);
    }
    MakeAction(cmd::kRefresh, appmsg::kRefresh)->setShortcut(QKeySequence(Qt::Key_F5));
    MakeAction(cmd::kView, appmsg::kTbView, appmsg::kPromptView);
    MakeAction(cmd::kOnlineHelp, appmsg::kOnlineHelp);
    MakeAction(cmd::kOnlineInfo, appmsg::kOnlineInfo);
    MakeAction(cmd::kContacts, appmsg::kContacts);
    MakeAction(cmd::kAbout, appmsg::kAboutLas);
    MakeAction(cmd::kNextPane, appmsg::kNextPane)->setShortcut(QKeySequence(Qt::Key_F6));
    MakeAction(cmd::kPrevPane, appmsg::kPreviousPane)->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(Action(cmd::kNextPane));
    addAction(Action(cmd::kPrevPane));

    connect(Action(cmd::kOpen), &QAction::triggered, this, &CMainFrame::OnOpen);
    connect(Action(cmd::kSaveAs), &QAction::triggered, this, &CMainFrame::OnSaveAs);
    connect(Action(cmd::kExit), &QAction::triggered, this, &QWidget::close);
    connect(Action(cmd::kRefresh), &QAction::triggered, this, &CMainFrame::OnRefresh);
    connect(Action(cmd::kView), &QAction::triggered, this, &CMainFrame::ShowViewMenu);
    connect(Action(cmd::kOnlineHelp), &QAction::triggered, this, &CMainFrame::OnOnlineHelp);
    connect(Action(cmd::kOnlineInfo), &QAction::triggered, this, &CMainFrame::OnOnlineInfo);
    connect(Action(cmd::kContacts), &QAction::triggered, this, &CMainFrame::OnContacts);
    connect(Action(cmd::kAbout), &QAction::triggered, this, &CMainFrame::OnAbout);
    connect(Action(cmd::kNextPane), &QAction::triggered, this, &CMainFrame::OnNextPane);
    connect(Action(cmd::kPrevPane), &QAction::triggered, this, &CMainFrame::OnNextPane);
    connect(Action(cmd::kLargeIcons), &QAction::triggered, this, [this] { SetListType(listview::kLargeIcons); });
    connect(Action(cmd::kSmallIcons), &QAction::triggered, this, [this] { SetListType(listview::kSmallIcons); });
    connect(Action(cmd::kList), &QAction::triggered, this, [this] { SetListType(listview::kList); });
    connect(Action(cmd::kDetails), &QAction::triggered, this, [this] { SetListType(listview::kDetails); });
}

void CMainFrame::BuildMenus() {
    fileMenu = menuBar()->addMenu(QString::fromLatin1(appmsg::kMenuFile));
    fileMenu->addAction(Action(cmd::kNew));
    fileMenu->addAction(Action(cmd::kOpen));
    fileMenu->addAction(Action(cmd::kSaveAs));
    fileMenu->addSeparator();
    recentSeparator = fileMenu->addSeparator();
    fileMenu->addAction(Action(cmd::kExit));

    QMenu* edit = menuBar()->addMenu(QString::fromLatin1(appmsg::kMenuEdit));
    edit->addAction(Action(cmd::kAdd));
    edit->addAction(Action(cmd::kDelete));
    edit->addAction(Action(cmd::kExtractTo));
    edit->addAction(Action(cmd::kExtractHere));
    edit->addAction(Action(cmd::kTest));
    edit->addSeparator();
    edit->addAction(Action(cmd::kSelectAll));
    edit->addAction(Action(cmd::kDeselectAll));
    edit->addAction(Action(cmd::kInvertSelection));
    edit->addSeparator();
    edit->addAction(Action(cmd::kFind));

    viewMenu = menuBar()->addMenu(QString::fromLatin1(appmsg::kMenuView));
    viewMenu->addAction(Action(cmd::kToolbar));
    viewMenu->addAction(Action(cmd::kStatusBar));
    viewMenu->addAction(Action(cmd::kDetailsPane));
    viewMenu->addSeparator();
    for (int id : {cmd::kLargeIcons, cmd::kSmallIcons, cmd::kList, cmd::kDetails})
        viewMenu->addAction(Action(id));
    viewMenu->addSeparator();
    viewMenu->addAction(Action(cmd::kRefresh));
    connect(viewMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);

    QMenu* help = menuBar()->addMenu(QString::fromLatin1(appmsg::kMenuHelp));
    help->addAction(Action(cmd::kOnlineHelp));
    help->addAction(Action(cmd::kOnlineInfo));
    help->addSeparator();
    help->addAction(Action(cmd::kContacts));
    help->addAction(Action(cmd::kAbout));

    // The tool bar's drop-down: the four styles.
    styleMenu = new QMenu(this);
    styleMenu->setObjectName(QStringLiteral("styleMenu"));
    for (int id : {cmd::kLargeIcons, cmd::kSmallIcons, cmd::kList, cmd::kDetails})
        styleMenu->addAction(Action(id));
    recentFiles = CSettingsStore::ReadRecentFiles();
    UpdateRecentMenu();
}

void CMainFrame::BuildToolBar() {
    toolBar = new CMyToolBar(this);
    addToolBar(Qt::TopToolBarArea, toolBar);
    const struct {
        int id;
        const char* icon;
        const char* label;
    } buttons[] = {{cmd::kNew, "new", appmsg::kTbNew},          {cmd::kOpen, "open", appmsg::kTbOpen},
                   {cmd::kAdd, "add", appmsg::kTbAdd},          {cmd::kExtractTo, "extract", appmsg::kTbExtract},
                   {cmd::kDelete, "delete", appmsg::kTbDelete}, {cmd::kFind, "find", appmsg::kTbFind},
                   {0, nullptr, nullptr},                       {cmd::kView, "view", appmsg::kTbView},
                   {0, nullptr, nullptr},                       {cmd::kAbout, "about", appmsg::kTbAbout}};
    for (const auto& b : buttons) {
        if (!b.id) {
            toolBar->addSeparator();
            continue;
        }
        QAction* a = Action(b.id);
        a->setIcon(appicons::Icon(QString::fromLatin1(b.icon)));
        a->setIconText(QString::fromLatin1(b.label));
        a->setToolTip(QString::fromLatin1(b.label));
        toolBar->addAction(a);
    }
    // Menus do not show the tool bar's pictures.
    for (QAction* a : std::as_const(actions)) a->setIconVisibleInMenu(false);
    Action(cmd::kView)->setMenu(styleMenu);
    if (auto* viewButton = qobject_cast<QToolButton*>(toolBar->widgetForAction(Action(cmd::kView))))
        viewButton->setPopupMode(QToolButton::MenuButtonPopup);
    toolBar->ShowButtonText(false);
    toolBar->ApplyTextMode(true);
}

void CMainFrame::ConnectListCommands() {
    CRightView* list = rightView;
    for (const auto& c : kListCommands) connect(Action(c.id), &QAction::triggered, list, c.run);
    // Also while the tree is active: the change is made on the list.
    connect(Action(cmd::kSelectAll), &QAction::triggered, list, &CRightView::SelectAll);
    connect(Action(cmd::kDeselectAll), &QAction::triggered, list, &CRightView::DeselectAll);
    connect(Action(cmd::kInvertSelection), &QAction::triggered, list, &CRightView::InvertSelection);
    connect(Action(cmd::kFind), &QAction::triggered, list, &CRightView::FindAndSelect);
    connect(Action(cmd::kNew), &QAction::triggered, list, &CRightView::NewArchive);
}

void CMainFrame::OnCreate() {
    BuildActions();
    BuildMenus();
    BuildToolBar();
    statusBarWidget = statusBar();
    statusBarWidget->showMessage(QString::fromLatin1(appmsg::kReady));
    // On the right, where messages and prompts never cover it.
    summary = new QLabel(statusBarWidget);
    summary->setObjectName(QStringLiteral("statusSummary"));
    statusBarWidget->addPermanentWidget(summary);
    connect(Action(cmd::kToolbar), &QAction::toggled, toolBar, &QWidget::setVisible);
    connect(Action(cmd::kStatusBar), &QAction::toggled, statusBarWidget, &QWidget::setVisible);
    Action(cmd::kToolbar)->setChecked(true);
    Action(cmd::kStatusBar)->setChecked(true);
    // Wide enough for the whole tool bar, About included; a stored placement
    // replaces this in ActivateFrame.
    setGeometry(100, 100, std::max(600, toolBar->sizeHint().width()), 450);
}

bool CMainFrame::OnCreateClient() {
    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setChildrenCollapsible(false);
    WindowPlacement p;
    if (platform::ParsePlacement(CSettingsStore::Read(Key(kLeftKey)), &p)) leftWidth = p.Width();
    if (platform::ParsePlacement(CSettingsStore::Read(Key(kRightKey)), &p)) rightWidth = p.Width();
    if (platform::ParsePlacement(CSettingsStore::Read(Key(kDetailsKey)), &p)) detailsWidth = p.Width();
    // A damaged width must not hide a pane or push the other off screen.
    leftWidth = std::clamp(leftWidth, 40, 4000);
    rightWidth = std::clamp(rightWidth, 40, 8000);
    detailsWidth = std::clamp(detailsWidth, 120, 4000);

    leftView = new CLeftView(splitter);
    rightView = new CRightView(ui, splitter);
    detailsPane = new CDetailsPane(splitter);
    splitter->addWidget(leftView);
    splitter->addWidget(rightView);
    splitter->addWidget(detailsPane);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    splitter->setSizes({leftWidth, rightWidth, detailsWidth});
    setCentralWidget(splitter);
    bool detailsShown = false;
    platform::ParseFlag(CSettingsStore::Read(Key(kDetailsShownKey)), &detailsShown);
    detailsPane->setVisible(detailsShown);
    Action(cmd::kDetailsPane)->setChecked(detailsShown);
    connect(Action(cmd::kDetailsPane), &QAction::toggled, this, &CMainFrame::ShowDetailsPane);
    // The two panes meet only here: the list asks the tree through its
    // interface, the tree says what to list through a signal.
    rightView->SetTree(leftView);
    connect(leftView, &CLeftView::NodeListed, rightView, &CRightView::ShowPath);
    return true;
}

void CMainFrame::ActivateFrame(int showCmd) {
    if (showCmd == -1) {
        if (!isVisible())
            showCmd = WindowPlacement::kShowNormal;
        else if (isMinimized())
            showCmd = 9;
    }
    raise();
    if (showCmd != -1) {
        WindowPlacement p;
        if (platform::ParsePlacement(CSettingsStore::Read(Key(kWindowKey)), &p)) {
            if (showCmd != static_cast<int>(WindowPlacement::kShowNormal))
                p.showCmd = static_cast<uint32_t>(showCmd);
            const QRect r(p.left, p.top, p.Width(), p.Height());
            if (UsableRect(r)) setGeometry(r);
            // Only a maximised window is restored as such: a stored hidden or
            // minimised state would leave the user without a window.
            if (p.showCmd == WindowPlacement::kShowMaximized)
                showMaximized();
            else
                showNormal();
        } else {
            showNormal();
        }
    }
    raise();
    // The tree and the details pane keep their stored widths; the list
    // takes the rest.
    const bool details = Action(cmd::kDetailsPane)->isChecked();
    const int beside = leftWidth + (details ? detailsWidth + splitter->handleWidth() : 0);
    const int total = splitter->width() > beside ? splitter->width() : beside + rightWidth;
    splitter->setSizes({leftWidth, std::max(1, total - beside - splitter->handleWidth()), detailsWidth});

    int32_t style = 0;
    if (platform::ParseStyle(CSettingsStore::Read(Key(kStyleKey)), &style)) {
        const int type = style & 3;
        if (type != listview::kLargeIcons) rightView->SetType(static_cast<listview::ListType>(type));
    }

    QString path = CSettingsStore::Read(Key(kPathKey));
    if (!path.isEmpty()) {
        path = platform::WithoutTrailingSeparator(path);
        if (QFileInfo::exists(path)) OpenPathInTree(path);
    }
    LoadColumnWidths();
    UpdateCommandUi();
}

WindowPlacement CMainFrame::CurrentPlacement() const {
    WindowPlacement p;
    const Qt::WindowStates st = windowState();
    QRect r = geometry();
    if (st & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        if (normalGeometry().isValid()) r = normalGeometry();
    }
    if (st & Qt::WindowMinimized) {
        p.showCmd = WindowPlacement::kShowMinimized;
        if (st & Qt::WindowMaximized) p.flags |= WindowPlacement::kRestoreToMaximized;
    } else if (st & Qt::WindowMaximized) {
        p.showCmd = WindowPlacement::kShowMaximized;
    }
    p.left = r.x();
    p.top = r.y();
    p.right = r.x() + r.width();
    p.bottom = r.y() + r.height();
    return p;
}

static WindowPlacement PanePlacement(const QWidget* pane) {
    WindowPlacement p;
    const QRect g = pane->geometry();
    p.left = g.x();
    p.top = g.y();
    p.right = g.x() + g.width();
    p.bottom = g.y() + g.height();
    return p;
}

void CMainFrame::OnClose() {
    rightView->ClearItems();
    WindowPlacement p = CurrentPlacement();
    if (windowState() & Qt::WindowMinimized) p.showCmd = WindowPlacement::kShow;
    if (p.flags & WindowPlacement::kRestoreToMaximized) p.showCmd = WindowPlacement::kShowMaximized;
    CSettingsStore::Write(Key(kWindowKey), platform::FormatPlacement(p));
    CSettingsStore::Write(Key(kStyleKey), platform::FormatStyle(rightView->Style()));
    CSettingsStore::Write(Key(kLeftKey), platform::FormatPlacement(PanePlacement(leftView)));
    CSettingsStore::Write(Key(kRightKey), platform::FormatPlacement(PanePlacement(rightView)));
    const bool details = Action(cmd::kDetailsPane)->isChecked();
    CSettingsStore::Write(Key(kDetailsShownKey), platform::FormatFlag(details));
    // A hidden pane's geometry is not its width: the stored one stays.
    if (details) CSettingsStore::Write(Key(kDetailsKey), platform::FormatPlacement(PanePlacement(detailsPane)));
    detailsPane->StopPreview();
    CSettingsStore::Write(Key(kPathKey), leftView->GetItemPath(leftView->SelectedNode()));
    SaveColumnWidths();
    CSettingsStore::WriteRecentFiles(recentFiles);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!closing) {
        closing = true;
        OnClose();
    }
    e->accept();
}

void CMainFrame::SaveColumnWidths() {
    if (rightView->Type() == listview::kDetails) {
        // A column past the mode's is passed over.
        const std::vector<int> w = rightView->ColumnWidthsOnScreen();
        for (std::size_t i = 0; i < w.size(); ++i)
            rightView->SetWidth(rightView->ArchiveMode(), static_cast<int>(i), w[i]);
    }
    const std::vector<int> archiveWidths = rightView->Widths(true), folderWidths = rightView->Widths(false);
    CSettingsStore::Write(Key(kColWidthReportKey),
                          platform::FormatWidths(archiveWidths.data(), CRightView::kArchiveColumns));
    CSettingsStore::Write(Key(kColWidthNormalKey),
                          platform::FormatWidths(folderWidths.data(), CRightView::kFolderColumns));
    CSettingsStore::Write(Key(kColShownReportKey), platform::FormatMask(rightView->ShownColumns(true)));
    CSettingsStore::Write(Key(kColShownNormalKey), platform::FormatMask(rightView->ShownColumns(false)));
}

void CMainFrame::LoadColumnWidths() {
    rightView->SetRecordWidths(false);
    for (const bool archive : {true, false}) {
        std::vector<int> widths = rightView->Widths(archive);
        platform::ParseWidths(CSettingsStore::Read(Key(archive ? kColWidthReportKey : kColWidthNormalKey)),
                              widths.data(), static_cast<int>(widths.size()));
        for (std::size_t c = 0; c < widths.size(); ++c) rightView->SetWidth(archive, static_cast<int>(c), widths[c]);
        uint32_t shown = rightView->ShownColumns(archive);
        platform::ParseMask(CSettingsStore::Read(Key(archive ? kColShownReportKey : kColShownNormalKey)), &shown);
        rightView->SetShownColumns(archive, shown);
    }
    rightView->ApplyShownColumns();
    rightView->ApplyColumnWidths();
    rightView->SetRecordWidths(true);
}

void CMainFrame::OpenPathInTree(const QString& path) { leftView->OpenPathInTree(path); }

void CMainFrame::SetListActive(bool active) {
    listActive = active;
    UpdateCommandUi();
}

void CMainFrame::OnFocusChanged(QWidget*, QWidget* now) {
    if (!now) return;
    // The pane that had the focus last stays the active one while the focus
    // is elsewhere (tool bar, menus, dialogs).
    if (now == leftView || leftView->isAncestorOf(now))
        SetListActive(false);
    else if (now == rightView || rightView->isAncestorOf(now))
        SetListActive(true);
}

void CMainFrame::UpdateCommandUi() {
    // The list's commands act only while the list is the active pane.
    for (const auto& c : kListCommands) Action(c.id)->setEnabled(listActive && rightView->Flags().*c.allowed);
    const int checked[] = {cmd::kLargeIcons, cmd::kDetails, cmd::kSmallIcons, cmd::kList};
    Action(checked[rightView->Type()])->setChecked(true);
}

void CMainFrame::ShowSelectedDetails() {
    // A hidden pane does no work at all.
    if (!Action(cmd::kDetailsPane)->isChecked()) return;
    const CRightView::DetailsItem item = rightView->ItemForDetails();
    if (item.path.isEmpty())
        detailsPane->ShowNothing();
    else
        detailsPane->ShowItem(item.path, item.entry, item.index);
}

void CMainFrame::ShowDetailsPane(bool shown) {
    if (!shown) {
        if (detailsPane->isVisible()) detailsWidth = detailsPane->width();
        detailsPane->StopPreview();
        detailsPane->hide();
        return;
    }
    detailsPane->show();
    // Its width taken from the list, which stays the pane that grows.
    QList<int> sizes = splitter->sizes();
    if (sizes.size() == 3) {
        const int taken = std::min(detailsWidth, std::max(0, sizes[1] - 80));
        sizes[1] -= taken;
        sizes[2] = taken;
        splitter->setSizes(sizes);
    }
    ShowSelectedDetails();
}

void CMainFrame::UpdateSummary() { summary->setText(listview::StatusText(rightView->Totals())); }

QString CMainFrame::StatusSummary() const { return summary->text(); }

void CMainFrame::SetListType(int type) {
    rightView->SetType(static_cast<listview::ListType>(type & 3));
    UpdateCommandUi();
}

void CMainFrame::OnOpen() {
    const QString path =
        ui.OpenFileName(this, QString::fromLatin1(platform::kArchiveFilter));
    if (path.isEmpty()) return;
    OpenPathInTree(path);
    AddRecentFile(path);
}

void CMainFrame::OnSaveAs() { platform::ShowMessage(ui, this, appmsg::kNotImplemented); }

void CMainFrame::OnRefresh() {
    rightView->ShowTreeSelection();
    leftView->RefreshTree();
}

void CMainFrame::OnApplicationActivated() {
    if (!leftView->TreeReady() || closing || QApplication::activeModalWidget()) return;
    if (seenActive) leftView->RefreshTree();
    // Also on the first activation, which may come long after the start (a
    // window that was not given the focus); the list is listed again only
    // when what it shows has changed on disk, so the start is not repeated.
    rightView->RefreshIfChanged();
}

void CMainFrame::ShowViewMenu() {
    UpdateCommandUi();
    const QPoint at = QCursor::pos() - QPoint(styleMenu->sizeHint().width(), 0);
    styleMenu->exec(at);
}

void CMainFrame::OnOnlineHelp() { ShowHelpPage(help::kTutorialPage); }
void CMainFrame::OnOnlineInfo() { ShowHelpPage(help::kIndexPage); }

void CMainFrame::ShowHelpPage(const char* page) {
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (help::OpenInBrowser(ui, QString::fromLatin1(page), programFolder)) return;
    if (!helpWindow) helpWindow = new CHelpWindow(this);
    helpWindow->ShowPage(QString::fromLatin1(page), programFolder);
    ui.ShowWindow(*helpWindow);
}

void CMainFrame::OnContacts() {
    CContactsDialog dlg(this);
    ui.RunDialog(dlg);
}

void CMainFrame::OnAbout() {
    CAboutDlg dlg(this);
    ui.RunDialog(dlg);
}

void CMainFrame::OnNextPane() {
    // Two panes: the next and the previous one are the same.
    const bool toList = !listActive;
    if (toList)
        rightView->setFocus(Qt::ShortcutFocusReason);
    else
        leftView->setFocus(Qt::ShortcutFocusReason);
    SetListActive(toList);
}

void CMainFrame::AddRecentFile(const QString& path) {
    recentFiles.removeAll(path);
    recentFiles.prepend(path);
    while (recentFiles.size() > CSettingsStore::kRecentCount) recentFiles.removeLast();
    UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu() {
    for (QAction* a : std::as_const(recentActions)) {
        fileMenu->removeAction(a);
        a->deleteLater();
    }
    recentActions.clear();
    if (recentFiles.isEmpty()) {
        QAction* placeholder = new QAction(QString::fromLatin1(appmsg::kRecentFile), this);
        placeholder->setEnabled(false);
        recentActions << placeholder;
    }
    for (int i = 0; i < recentFiles.size(); ++i) {
        const QString file = recentFiles[i];
        // An "&" in the path is shown as one, not taken for the item's letter.
        QString shown = file;
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        connect(a, &QAction::triggered, this, [this, file] {
            if (!QFileInfo::exists(file)) {
                recentFiles.removeAll(file);
                UpdateRecentMenu();
                platform::ShowMessage(ui, this, appmsg::kFileDoesntExist);
                return;
            }
            OpenPathInTree(file);
            AddRecentFile(file);
        });
        recentActions << a;
    }
    actions.insert(cmd::kRecentFile, recentActions.first());
    for (QAction* a : std::as_const(recentActions)) fileMenu->insertAction(recentSeparator, a);
}
