#pragma once

#include <QHash>
#include <QMainWindow>
#include <QStringList>

#include "platform/Mounts.h"
#include "platform/PlatformUi.h"
#include "platform/Settings.h"

class CDetailsPane;
class CLeftView;
class CRightView;
class CHelpWindow;
class CMyToolBar;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;

// The main window: tool bar, menus, status bar and the two panes (the folder
// tree left, the file list right). It is the only place where settings are
// read and written.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // places replaces the machine's top-level places (tests use their own).
    // ui answers every message box and dialog of the window; not owned.
    explicit CMainFrame(platform::IPlatformUi& ui,
                        const std::vector<platform::MountPoint>* places = nullptr,
                        QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Restores the stored placement, list style, path and column widths and
    // shows the window. showCmd -1 means "as the placement says".
    void ActivateFrame(int showCmd = -1);

    CLeftView* LeftView() const { return leftView; }
    CRightView* RightView() const { return rightView; }
    CDetailsPane* DetailsPane() const { return detailsPane; }
    QSplitter* Splitter() const { return splitter; }
    CMyToolBar* ToolBar() const { return toolBar; }
    QAction* Action(int id) const { return actions.value(id); }
    QMenu* ViewMenu() const { return viewMenu; }
    QStringList RecentFiles() const { return recentFiles; }

    // True while the list pane is the active one (it had the focus last).
    bool ListActive() const { return listActive; }
    void SetListActive(bool active);

    // The placement as the settings store it, taken from the window now.
    platform::WindowPlacement CurrentPlacement() const;

    void SaveColumnWidths();
    void LoadColumnWidths();
    void OpenPathInTree(const QString& path);
    void AddRecentFile(const QString& path);
    // Enables the commands for the active pane and the list's flags.
    void UpdateCommandUi();
    // The status bar's account of what the list holds and what is selected.
    QString StatusSummary() const;

public slots:
    void OnOpen();
    void OnSaveAs();
    void OnRefresh();
    void ShowViewMenu();
    void OnOnlineHelp();
    void OnOnlineInfo();
    // In the default browser, or in a window of our own when there is none.
    void ShowHelpPage(const char* page);
    void OnContacts();
    void OnAbout();
    void OnNextPane();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void OnCreate();
    bool OnCreateClient();
    void OnClose();
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void ConnectListCommands();
    QAction* MakeAction(int id, const char* text, const char* prompt = nullptr);
    void SetListType(int type);
    void UpdateRecentMenu();
    void OnFocusChanged(QWidget* old, QWidget* now);
    // The details pane follows the list's selection while it is shown.
    void ShowSelectedDetails();
    void ShowDetailsPane(bool shown);
    void UpdateSummary();
    void OnApplicationActivated();

    QSplitter* splitter = nullptr;
    QStatusBar* statusBarWidget = nullptr;
    CMyToolBar* toolBar = nullptr;
    CLeftView* leftView = nullptr;
    CRightView* rightView = nullptr;
    CDetailsPane* detailsPane = nullptr;
    QLabel* summary = nullptr;
    CHelpWindow* helpWindow = nullptr;  // made when first needed
    QHash<int, QAction*> actions;
    QActionGroup* viewGroup = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* viewMenu = nullptr;
    QMenu* styleMenu = nullptr;  // the four styles, for the tool bar's drop-down
    QAction* recentSeparator = nullptr;
    QList<QAction*> recentActions;
    QStringList recentFiles;
    int leftWidth = 150;
    int rightWidth = 100;
    int detailsWidth = 340;
    bool listActive = false;
    bool closing = false;
    bool seenActive = false;  // this frame has seen the program active
    const std::vector<platform::MountPoint>* places = nullptr;
    platform::IPlatformUi& ui;
};
