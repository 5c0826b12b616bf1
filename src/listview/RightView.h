#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QListView>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <variant>
#include <vector>

#include "listview/ArchiveListing.h"
#include "listview/ListLogic.h"
#include "platform/PlatformUi.h"

class IFolderTree;
class QListView;
class QMenu;
class QStackedLayout;
class QStandardItemModel;
class QItemSelectionModel;
class QTreeView;
class QModelIndex;

using listview::ArchiveItemRecord;
using listview::FolderItemRecord;
using listview::ListType;
using listview::kListStyleBase;
using listview::kLargeIcons;
using listview::kDetails;
using listview::kSmallIcons;
using listview::kList;

// The right-hand pane: the LAS files and archives of one folder, or the
// entries of one archive. One item model feeds two views, a details view with
// columns and an icon/list view for the other three styles, so switching the
// style keeps items and selection.
class CRightView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFolderColumns = 3;
    static constexpr int kArchiveColumns = listview::kArchiveColumnCount;
    // Every column shown: the masks' value where the settings say nothing.
    static constexpr uint32_t kAllColumns = 0xFFFFFFFFu;

    explicit CRightView(platform::IPlatformUi& ui, QWidget* parent = nullptr);
    ~CRightView() override;

    // The folder tree of the same window; not owned.
    void SetTree(IFolderTree* tree) { this->tree = tree; }

    // Lists the folder or archive named by path; an empty path changes nothing.
    void ShowPath(const QString& path);
    void ClearItems();
    void ApplyColumnWidths();
    void OnHeaderClick(int column);
    void ShowTreeSelection();
    void GoUp();
    // Lists what the list shows again, keeping the selection, the focused
    // item and the scroll position as far as the items are still there.
    void Refresh();
    // The same, only when the folder's files or the archive changed on disk
    // since they were listed.
    void RefreshIfChanged();

    ListType Type() const { return type; }
    void SetType(ListType t);
    // The style word stored in the settings: base bits and the list type.
    int32_t Style() const { return kListStyleBase | static_cast<int32_t>(type); }

    // Widths of the details columns as the list has them on screen; a
    // hidden column keeps the width it had.
    std::vector<int> ColumnWidthsOnScreen() const;
    // The details columns shown (bit c for column c) in the mode the list is
    // in; the name always is. Hiding and showing one is remembered for its
    // mode in folderShown or archiveShown.
    bool IsColumnShown(int column) const;
    void SetColumnShown(int column, bool shown);
    // Applies folderShown and archiveShown to the columns on screen.
    void ApplyShownColumns();
    // The heading's pop-up menu: every column but the name, checked where
    // it is shown. Owned by the caller.
    QMenu* BuildHeaderMenu();

    // Item access by row; row 0 is always "..". An entry's name is shown
    // escaped (see EscapeName) while the commands use its own name.
    int ItemCount() const { return static_cast<int>(rows.size()); }
    // How many items the list shows, their sizes, and the same of the
    // selected ones (for the status bar).
    listview::ListTotals Totals() const;
    // The item whose details the pane beside the list shows: the focused
    // item when it is selected, else the first selected one. path is the
    // LAS file's, or the archive's for an entry (then named by entry, at
    // index of the directory); all empty when no LAS file or entry is
    // selected.
    struct DetailsItem {
        QString path;
        QString entry;
        qint64 index = -1;
    };
    DetailsItem ItemForDetails() const;
    QString ItemText(int row, int column = 0) const;
    bool IsItemSelected(int row) const;
    void SetItemSelected(int row, bool selected);
    QStringList SelectedNames() const;  // in row order, ".." left out
    int CurrentRow() const;

    // List commands. The command flags follow every change of the
    // selection, however it is made; a click also takes ".." out of it.
    void UpdateCommandFlags();
    void SelectAll();
    void DeselectAll();
    void InvertSelection();
    void AddSelected();
    void DeleteSelected();
    void ExtractTo();
    void ExtractHere();
    // Decodes the selected entries of the open archive and checks them.
    void TestSelected();
    void DropFiles(const QStringList& paths);
    // What the list puts beside the files it lets the user drag out of an
    // archive, so that it can tell them from files dragged in from outside.
    static constexpr const char* kDraggedEntriesFormat = "application/x-velmora-dragged-entries";
    void OnEnter();
    // A double click on the item of row (".." is row 0).
    void OnDoubleClick(int row);
    void OnKeyRelease();
    void FindAndSelect();
    void SelectMatching(const QString& text, bool matchCase, int filter);
    void NewArchive();
    // The pop-up menu for the current selection: the file commands (129)
    // when something is selected, else the view styles (136). Owned by the
    // caller.
    QMenu* BuildContextMenu();

    QTreeView* DetailsView() const { return details; }
    QListView* IconView() const { return icons; }
    QWidget* ActiveView() const;

    // The folder or archive listed; empty before the first listing.
    QString CurrentPath() const { return currentPath; }
    // The list shows the entries of an archive.
    bool ArchiveMode() const { return archiveMode; }
    // What the selection allows.
    const listview::CommandFlags& Flags() const { return flags; }
    // Puts the flags in a state of the caller's until the selection next
    // changes them (a window in a state no selection gives, as tests need).
    void SetFlags(const listview::CommandFlags& f);
    // The column the list is sorted by (-1: as read) and its direction.
    int SortColumn() const { return sortColumn; }
    int SortDirection() const { return sortDirection; }

    // The remembered widths of the details columns, for folders or for
    // archives; the settings keep them, and a mode shows them when it is
    // entered.
    std::vector<int> Widths(bool archive) const;
    // A column past the mode's columns is passed over.
    void SetWidth(bool archive, int column, int width);
    // The details columns shown in a mode (bit c for column c).
    uint32_t ShownColumns(bool archive) const { return archive ? archiveShown : folderShown; }
    void SetShownColumns(bool archive, uint32_t mask) { (archive ? archiveShown : folderShown) = mask; }
    // While on, a width the user gives a column is remembered for its mode;
    // off while the window itself sets the columns.
    void SetRecordWidths(bool on) { recordWidths = on; }

signals:
    // The list changed what it shows (for the frame's status and commands).
    void Listed();
    // The command flags or the list type changed.
    void FlagsChanged();
    // The selection changed (also when a new listing emptied it).
    void SelectionChanged();
    // The list is about to change the archive it shows (add or delete):
    // whoever reads it should let go of it.
    void ArchiveChanging();
    // Something the user should know that is no failure: an interrupted
    // change of an archive was undone while it was read (for the status bar).
    void Notice(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString currentPath;
    int folderWidths[kFolderColumns] = {100, 100, 150};
    int archiveWidths[kArchiveColumns] = {100, 100, 150, 150, 60, 60, 100, 80};
    uint32_t folderShown = kAllColumns;
    uint32_t archiveShown = kAllColumns;
    bool archiveMode = false;
    bool recordWidths = false;
    listview::CommandFlags flags;
    int sortColumn = -1;
    int sortDirection = 1;

    struct Row {
        QString name;  // the file's or entry's own name, which commands use
        QString text;  // the name as shown
        QIcon icon;
        QStringList columns;  // texts of columns 1..n
        std::variant<std::monostate, FolderItemRecord, ArchiveItemRecord> record;
        int64_t index = -1;  // an entry's place in the archive's directory
    };

    void SetColumns(bool archive);
    // Sets the flags from the selection as it is now.
    void FollowSelection();
    // Selects the rows from first on for which wanted holds and deselects
    // the others, in one change of the selection.
    void SelectRows(int first, const std::function<bool(int)>& wanted);
    // names: the entries to extract; none for the selected ones.
    void ExtractFromArchive(bool here, const QStringList& names = {});
    // A press on an entry and a move of the mouse past the drag distance
    // drag the selected entries out; true when the event was used for that.
    bool FollowDragGesture(QWidget* viewport, QEvent* event);
    // Extracts the selected entries into a folder of their own through the
    // extraction job, then lets the user drag the files from there to a file
    // manager or the desktop, as long as the mouse button is still held.
    void DragSelectedEntries();
    void ExtractWholeArchives(bool here);
    QString ListedFolder() const;
    void ShowContextMenu(const QPoint& globalPos);
    void ShowHeaderMenu(const QPoint& globalPos);
    void ListFolder(const QString& folder);
    void ListArchive(const QString& path);
    // Passes on what the archive layer said while it read the archive at
    // path, and shows why it could not be listed; false when it could.
    bool ReportListing(const QString& path, const listview::ArchiveListing& listing);
    void SetIconLayout(QListView::ViewMode mode, QListView::Flow flow, int iconSize, QSize grid, bool wordWrap);
    void InsertUpItem();
    void SortRows();
    // The arrow in the sorted column's heading, or none.
    void ShowSortArrow();
    void RebuildModel();
    void OnSectionResized(int column, int oldSize, int newSize);
    QIcon IconFor(const QString& path);
    QIcon FolderIcon();

    platform::IPlatformUi& ui;
    IFolderTree* tree = nullptr;
    ListType type = kLargeIcons;
    std::vector<Row> rows;
    QStandardItemModel* model = nullptr;
    QItemSelectionModel* selection = nullptr;
    QStackedLayout* stack = nullptr;
    QTreeView* details = nullptr;
    QListView* icons = nullptr;
    QFileIconProvider iconProvider;
    QHash<QString, QIcon> iconCache;
    bool settingColumns = false;
    QString listedStamp;  // ListingStamp of currentPath when it was listed
    // The drag gesture: where the press was, and whether it may begin a drag.
    QPoint dragFrom;
    bool dragArmed = false;
    // Folders of the files dragged out; the drop targets may still be copying
    // from them, so they go when the list does.
    QStringList dragFolders;
};
