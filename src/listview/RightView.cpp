#include "listview/RightView.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>

#include "jobs/JobReport.h"
#include "platform/Icons.h"
#include "listview/FolderTree.h"
#include "listview/NameTips.h"
#include "listview/ArchiveListing.h"
#include "listview/ListMessages.h"
#include "platform/Paths.h"
#include "platform/PlatformUi.h"

using platform::MsgButtons;
using platform::MsgIcon;

CRightView::CRightView(platform::IPlatformUi& ui, QWidget* parent) : QWidget(parent), ui(ui) {
    model = new QStandardItemModel(this);
    selection = new QItemSelectionModel(model, this);

    details = new QTreeView(this);
    details->setModel(model);
    details->setSelectionModel(selection);
    details->setRootIsDecorated(false);
    details->setItemsExpandable(false);
    details->setUniformRowHeights(true);
    details->setAllColumnsShowFocus(true);
    details->setSelectionMode(QAbstractItemView::ExtendedSelection);
    details->setSelectionBehavior(QAbstractItemView::SelectRows);
    details->setEditTriggers(QAbstractItemView::NoEditTriggers);
    details->header()->setStretchLastSection(false);
    details->header()->setSectionsClickable(true);
    // No arrow until the user sorts by a column (see ShowSortArrow).
    details->header()->setSortIndicatorShown(false);
    details->header()->setSectionsMovable(false);
    details->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    icons = new QListView(this);
    icons->setModel(model);
    icons->setSelectionModel(selection);
    icons->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The view shows the name alone, but an item is chosen with its whole
    // row, as in details: the commands read whole rows.
    icons->setSelectionBehavior(QAbstractItemView::SelectRows);
    icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    icons->setMovement(QListView::Static);
    icons->setResizeMode(QListView::Adjust);

    stack = new QStackedLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(icons);
    stack->addWidget(details);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(details), static_cast<QAbstractItemView*>(icons)}) {
        view->setItemDelegate(new listview::CNameTipDelegate(view));
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        // Drops go to the pane itself, which takes files from anywhere on it.
        view->setAcceptDrops(false);
        view->viewport()->setAcceptDrops(false);
        view->setDragDropMode(QAbstractItemView::NoDragDrop);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { ShowContextMenu(view->viewport()->mapToGlobal(pos)); });
        // The row the user double-clicked, not the current one: the first
        // click's release may already have moved the focus off "..".
        connect(view, &QAbstractItemView::doubleClicked, this,
                [this](const QModelIndex& index) { OnDoubleClick(index.row()); });
    }
    // Every change of the selection, by mouse, keys, Find or a new listing
    // (which empties it), sets the command flags.
    connect(selection, &QItemSelectionModel::selectionChanged, this, &CRightView::FollowSelection);
    connect(details->header(), &QHeaderView::sectionClicked, this, &CRightView::OnHeaderClick);
    details->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(details->header(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowHeaderMenu(details->header()->mapToGlobal(pos)); });
    connect(details->header(), &QHeaderView::sectionResized, this, &CRightView::OnSectionResized);

    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(icons);

    SetColumns(false);
    ApplyColumnWidths();
    archiveMode = false;
    SetType(kLargeIcons);
    InsertUpItem();
    RebuildModel();
}

CRightView::~CRightView() {
    for (const QString& folder : std::as_const(dragFolders)) QDir(folder).removeRecursively();
}

QWidget* CRightView::ActiveView() const {
    return type == kDetails ? static_cast<QWidget*>(details) : static_cast<QWidget*>(icons);
}

void CRightView::SetIconLayout(QListView::ViewMode mode, QListView::Flow flow, int iconSize, QSize grid,
                               bool wordWrap) {
    icons->setViewMode(mode);
    icons->setFlow(flow);
    icons->setWrapping(true);
    icons->setIconSize(QSize(iconSize, iconSize));
    icons->setGridSize(grid);
    icons->setWordWrap(wordWrap);
    // The first item is "..": its size must not set everyone's.
    icons->setUniformItemSizes(false);
}

void CRightView::SetType(ListType t) {
    type = t;
    switch (t) {
        case kDetails:
            stack->setCurrentWidget(details);
            setFocusProxy(details);
            return;
        case kLargeIcons:
            SetIconLayout(QListView::IconMode, QListView::LeftToRight, 32, QSize(116, 72), true);
            break;
        case kSmallIcons:
            SetIconLayout(QListView::ListMode, QListView::LeftToRight, 16, QSize(170, 22), false);
            break;
        case kList:
            SetIconLayout(QListView::ListMode, QListView::TopToBottom, 16, QSize(170, 22), false);
            break;
    }
    stack->setCurrentWidget(icons);
    setFocusProxy(icons);
}

QIcon CRightView::FolderIcon() {
    return iconProvider.icon(QAbstractFileIconProvider::Folder);
}

QIcon CRightView::IconFor(const QString& path) {
    // The icon depends only on the file type, so one lookup per extension.
    const QString key = platform::ExtensionOf(platform::FileNamePart(path)).toLower();
    auto it = iconCache.find(key);
    if (it != iconCache.end()) return *it;
    QIcon icon = key == QLatin1String("vmra") ? appicons::Icon(QStringLiteral("archive"))
                                              : iconProvider.icon(QFileInfo(path));
    if (icon.isNull()) icon = iconProvider.icon(QAbstractFileIconProvider::File);
    iconCache.insert(key, icon);
    return icon;
}

void CRightView::InsertUpItem() {
    Row up;
    up.text = up.name = QString::fromLatin1(listmsg::kUp);
    up.icon = FolderIcon();
    rows.insert(rows.begin(), std::move(up));
}

void CRightView::ClearItems() {
    rows.clear();
    model->removeRows(0, model->rowCount());
}

void CRightView::SetColumns(bool archive) {
    settingColumns = true;
    QStringList headings{QString::fromLatin1(listmsg::kColName),
                         QString::fromLatin1(listmsg::kColSize)};
    if (archive)
        headings << QString::fromLatin1(listmsg::kColPacked) << QString::fromLatin1(listmsg::kColRatio)
                 << QString::fromLatin1(listmsg::kColVersion) << QString::fromLatin1(listmsg::kColFormat)
                 << QString::fromLatin1(listmsg::kColPoints) << QString::fromLatin1(listmsg::kColChecksum);
    else
        headings << QString::fromLatin1(listmsg::kColLastModified);
    model->setColumnCount(headings.size());
    model->setHorizontalHeaderLabels(headings);
    const int* widths = archive ? archiveWidths : folderWidths;
    const uint32_t shown = archive ? archiveShown : folderShown;
    for (int c = 0; c < headings.size(); ++c) {
        details->setColumnHidden(c, c > 0 && !(shown & (1u << c)));
        details->setColumnWidth(c, widths[c]);
    }
    settingColumns = false;
}

bool CRightView::IsColumnShown(int column) const {
    if (column == 0) return true;
    if (column < 0 || column >= model->columnCount()) return false;
    return ((archiveMode ? archiveShown : folderShown) & (1u << column)) != 0;
}

void CRightView::SetColumnShown(int column, bool shown) {
    if (column <= 0 || column >= model->columnCount()) return;
    uint32_t& mask = archiveMode ? archiveShown : folderShown;
    mask = shown ? mask | (1u << column) : mask & ~(1u << column);
    ApplyShownColumns();
}

void CRightView::ApplyShownColumns() {
    settingColumns = true;
    const int* widths = archiveMode ? archiveWidths : folderWidths;
    for (int c = 1; c < model->columnCount(); ++c) {
        const bool hide = !IsColumnShown(c);
        if (details->isColumnHidden(c) == hide) continue;
        details->setColumnHidden(c, hide);
        // Shown again at the width it had, not at the header's default.
        if (!hide) details->setColumnWidth(c, widths[c]);
    }
    settingColumns = false;
}

QMenu* CRightView::BuildHeaderMenu() {
    auto* menu = new QMenu(this);
    for (int c = 1; c < model->columnCount(); ++c) {
        QAction* a = menu->addAction(model->headerData(c, Qt::Horizontal).toString());
        a->setCheckable(true);
        a->setChecked(IsColumnShown(c));
        connect(a, &QAction::toggled, this, [this, c](bool on) { SetColumnShown(c, on); });
    }
    return menu;
}

void CRightView::ShowHeaderMenu(const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu(BuildHeaderMenu());
    menu->exec(globalPos);
}

void CRightView::ApplyColumnWidths() {
    settingColumns = !recordWidths;
    const int n = archiveMode ? kArchiveColumns : kFolderColumns;
    const int* widths = archiveMode ? archiveWidths : folderWidths;
    for (int c = 0; c < n; ++c) details->setColumnWidth(c, widths[c]);
    settingColumns = false;
}

std::vector<int> CRightView::ColumnWidthsOnScreen() const {
    std::vector<int> w;
    const int* widths = archiveMode ? archiveWidths : folderWidths;
    for (int c = 0; c < model->columnCount(); ++c)
        w.push_back(details->isColumnHidden(c) ? widths[c] : details->columnWidth(c));
    return w;
}

std::vector<int> CRightView::Widths(bool archive) const {
    return archive ? std::vector<int>(archiveWidths, archiveWidths + kArchiveColumns)
                   : std::vector<int>(folderWidths, folderWidths + kFolderColumns);
}

void CRightView::SetWidth(bool archive, int column, int width) {
    if (column < 0 || column >= (archive ? kArchiveColumns : kFolderColumns)) return;
    (archive ? archiveWidths : folderWidths)[column] = width;
}

void CRightView::SetFlags(const listview::CommandFlags& f) {
    flags = f;
    emit FlagsChanged();
}

void CRightView::OnSectionResized(int column, int /*oldSize*/, int newSize) {
    if (!recordWidths || settingColumns || column < 0) return;
    if (archiveMode && column < kArchiveColumns) archiveWidths[column] = newSize;
    if (!archiveMode && column < kFolderColumns) folderWidths[column] = newSize;
}

void CRightView::ShowPath(const QString& path) {
    if (path.isEmpty()) return;
    ClearItems();
    InsertUpItem();
    currentPath = path;
    if (listview::IsArchivePath(path)) {
        if (!archiveMode) {
            sortColumn = -1;
            sortDirection = 1;
            archiveMode = true;
            SetColumns(true);
        }
        RebuildModel();
        ListArchive(path);
    } else {
        if (archiveMode) {
            sortColumn = -1;
            sortDirection = 1;
            archiveMode = false;
            SetColumns(false);
        }
        ListFolder(path);
    }
    if (sortColumn != -1) SortRows();
    ShowSortArrow();
    RebuildModel();
    listedStamp = listview::ListingStamp(path);
    emit Listed();
}

void CRightView::ListFolder(const QString& folder) {
    // The LAS files first, then the archives; subfolders are the tree's.
    for (const QFileInfo& fi : listview::ListedFiles(folder)) {
        Row row;
        row.text = row.name = fi.fileName();
        row.icon = IconFor(fi.absoluteFilePath());
        FolderItemRecord rec;
        rec.name = fi.fileName().toLower();
        rec.size = fi.size();
        const QDateTime modified = fi.lastModified();
        rec.lastWrite = modified.isValid() ? modified.toSecsSinceEpoch() : 0;
        row.columns << listview::FormatByteCount(rec.size) << listview::FormatFileTime(rec.lastWrite);
        row.record = rec;
        rows.push_back(std::move(row));
    }
}

bool CRightView::ReportListing(const QString& path, const listview::ArchiveListing& listing) {
    for (const QString& notice : listing.notices) emit Notice(notice);
    if (listing.outcome == listview::ArchiveListing::CannotOpen) {
        platform::ShowMessage(ui, this,
                              MessageAbout(QString::fromLatin1(listmsg::kErrorOpeningFile), path, listing.cause));
        return true;
    }
    if (listing.outcome == listview::ArchiveListing::Failed) {
        platform::ShowMessage(ui, this, MessageAbout(listing.error, path, listing.cause), MsgButtons::Ok,
                              MsgIcon::Error);
        return true;
    }
    return false;
}

void CRightView::ListArchive(const QString& path) {
    flags = listview::CommandFlags{};
    const listview::ArchiveListing listing = listview::ReadArchiveListing(path);
    if (ReportListing(path, listing)) return;
    const QString folder = platform::FolderPart(path);
    for (const listview::ArchiveEntryInfo& e : listing.entries) {
        Row row;
        row.name = e.name;
        row.text = e.shown;
        row.icon = IconFor(folder + e.name);
        const ArchiveItemRecord rec = listview::MakeArchiveRecord(e.shown, e.size, e.packed, e.figures);
        row.columns << listview::FormatByteCount(e.size) << listview::FormatByteCount(e.packed)
                    << listview::FormatRatio(rec) << listview::FormatVersion(e.figures)
                    << listview::FormatPointFormat(e.figures) << listview::FormatPoints(e.figures)
                    << listview::FormatChecksum(e.figures.checksum);
        row.record = rec;
        row.index = e.index;
        rows.push_back(std::move(row));
    }
}

void CRightView::OnHeaderClick(int column) {
    if (column >= 0 && column == sortColumn) {
        sortDirection = -sortDirection;
    } else {
        sortColumn = column;
        sortDirection = 1;
        if (column < 0) {
            ShowSortArrow();
            return;
        }
    }
    const QStringList selected = SelectedNames();
    SortRows();
    ShowSortArrow();
    RebuildModel();
    for (int r = 1; r < ItemCount(); ++r)
        if (selected.contains(rows[r].name)) SetItemSelected(r, true);
}

void CRightView::ShowSortArrow() {
    // The heading flips its own arrow on a click; the list decides which way
    // the column runs, so it sets the arrow after every sort.
    QHeaderView* header = details->header();
    if (sortColumn < 0) {
        header->setSortIndicatorShown(false);
        return;
    }
    header->setSortIndicator(sortColumn, listview::ShownSortOrder(sortColumn, sortDirection));
    header->setSortIndicatorShown(true);
}

void CRightView::SortRows() {
    if (rows.size() < 3) return;
    // ".." is not sorted at all: it stays at row 0 whatever the comparison,
    // which keeps the ordering of the rest a strict weak ordering.
    const int column = sortColumn, direction = sortDirection;
    std::stable_sort(rows.begin() + 1, rows.end(), [&](const Row& a, const Row& b) {
        if (auto* fa = std::get_if<FolderItemRecord>(&a.record)) {
            auto* fb = std::get_if<FolderItemRecord>(&b.record);
            return fb && listview::CompareFolderItems(*fa, *fb, column, direction) < 0;
        }
        if (auto* aa = std::get_if<ArchiveItemRecord>(&a.record)) {
            auto* ab = std::get_if<ArchiveItemRecord>(&b.record);
            return ab && listview::CompareArchiveItems(*aa, *ab, column, direction) < 0;
        }
        return false;
    });
}

void CRightView::RebuildModel() {
    model->removeRows(0, model->rowCount());
    for (const Row& r : rows) {
        QList<QStandardItem*> items;
        auto* first = new QStandardItem(r.icon, r.text);
        first->setEditable(false);
        items << first;
        for (const QString& c : r.columns) {
            auto* item = new QStandardItem(c);
            item->setEditable(false);
            items << item;
        }
        model->appendRow(items);
    }
}

QString CRightView::ItemText(int row, int column) const {
    if (row < 0 || row >= ItemCount()) return QString();
    if (column == 0) return rows[row].text;
    return column - 1 < rows[row].columns.size() ? rows[row].columns[column - 1] : QString();
}

bool CRightView::IsItemSelected(int row) const {
    return selection->isRowSelected(row, QModelIndex());
}

void CRightView::SetItemSelected(int row, bool selected) {
    if (row < 0 || row >= model->rowCount()) return;
    const QModelIndex index = model->index(row, 0);
    selection->select(index, (selected ? QItemSelectionModel::Select
                                       : QItemSelectionModel::Deselect) |
                                 QItemSelectionModel::Rows);
    if (selected) selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void CRightView::SelectRows(int first, const std::function<bool(int)>& wanted) {
    QItemSelection on, off;
    int firstOn = -1;
    const int columns = model->columnCount();
    for (int r = std::max(first, 0); r < model->rowCount(); ++r) {
        const bool select = wanted(r);
        QItemSelection& target = select ? on : off;
        target.select(model->index(r, 0), model->index(r, columns - 1));
        if (select && firstOn < 0) firstOn = r;
    }
    selection->select(off, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    selection->select(on, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (firstOn >= 0) selection->setCurrentIndex(model->index(firstOn, 0), QItemSelectionModel::NoUpdate);
}

listview::ListTotals CRightView::Totals() const {
    listview::ListTotals t;
    t.archive = archiveMode;
    for (int r = 1; r < ItemCount(); ++r) {
        const Row& row = rows[static_cast<std::size_t>(r)];
        int64_t size = 0;
        if (auto* f = std::get_if<FolderItemRecord>(&row.record)) size = f->size;
        if (auto* a = std::get_if<ArchiveItemRecord>(&row.record)) {
            size = a->size;
            t.packed += a->packed;
        }
        ++t.items;
        t.size += size;
        if (!IsItemSelected(r)) continue;
        ++t.selected;
        t.selectedSize += size;
    }
    return t;
}

CRightView::DetailsItem CRightView::ItemForDetails() const {
    int row = CurrentRow();
    if (row <= 0 || !IsItemSelected(row)) {
        row = -1;
        for (int r = 1; r < ItemCount() && row < 0; ++r)
            if (IsItemSelected(r)) row = r;
    }
    DetailsItem item;
    if (row <= 0) return item;
    const Row& r = rows[static_cast<std::size_t>(row)];
    if (archiveMode) {
        if (!listview::IsArchivePath(currentPath)) return item;
        item.path = currentPath;
        item.entry = r.name;
        item.index = r.index;
    } else if (platform::HasTrailingExtension(r.name, QStringLiteral(".las"))) {
        item.path = platform::WithTrailingSeparator(currentPath) + r.name;
    }
    return item;
}

QStringList CRightView::SelectedNames() const {
    QStringList names;
    for (int r = 1; r < ItemCount(); ++r)
        if (IsItemSelected(r)) names << rows[r].name;
    return names;
}

int CRightView::CurrentRow() const {
    const QModelIndex i = selection->currentIndex();
    return i.isValid() ? i.row() : -1;
}

void CRightView::Refresh() {
    if (currentPath.isEmpty()) return;
    const QStringList selected = SelectedNames();
    const QString focused = CurrentRow() > 0 ? rows[static_cast<std::size_t>(CurrentRow())].name : QString();
    auto* view = static_cast<QAbstractItemView*>(ActiveView());
    const int down = view->verticalScrollBar()->value();
    const int across = view->horizontalScrollBar()->value();
    ShowPath(currentPath);
    SelectRows(1, [&](int r) { return selected.contains(rows[static_cast<std::size_t>(r)].name); });
    for (int r = 1; r < ItemCount(); ++r)
        if (!focused.isEmpty() && rows[static_cast<std::size_t>(r)].name == focused)
            selection->setCurrentIndex(model->index(r, 0), QItemSelectionModel::NoUpdate);
    view->verticalScrollBar()->setValue(down);
    view->horizontalScrollBar()->setValue(across);
}

void CRightView::RefreshIfChanged() {
    if (!currentPath.isEmpty() && listview::ListingStamp(currentPath) != listedStamp) Refresh();
}

void CRightView::ShowTreeSelection() {
    if (!tree) return;
    currentPath = tree->SelectedPath();
    ShowPath(currentPath);
}

void CRightView::GoUp() {
    if (tree && tree->SelectParent()) ShowTreeSelection();
}
