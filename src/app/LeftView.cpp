#include "app/LeftView.h"

#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QStyle>

#include <algorithm>

#include "app/AppMessages.h"
#include "platform/Icons.h"
#include "listview/NameTips.h"
#include "platform/Paths.h"

CLeftView::CLeftView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setExpandsOnDoubleClick(true);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    // Deep names keep their text: the column is as wide as its widest name
    // and the pane scrolls across, as a file manager's tree does. It is never
    // narrower than the pane, so a row is selected across its whole width.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // Names the pane is too narrow for show in full as tool tips.
    setItemDelegate(new listview::CNameTipDelegate(this));
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CLeftView::OnSelectionChanged);
    connect(this, &QTreeWidget::itemExpanded, this, &CLeftView::OnItemExpanding);
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* node) {
        if (KindOf(node) == kFolderNode) node->setIcon(0, folderIcon);
    });
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
        if (!quiet) ListSelected();
    });
}

void CLeftView::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    header()->setMinimumSectionSize(viewport()->width());
}

void CLeftView::OnInitialUpdate() { Initialise(nullptr); }

void CLeftView::OnInitialUpdate(const std::vector<platform::MountPoint>& places) { Initialise(&places); }

void CLeftView::Initialise(const std::vector<platform::MountPoint>* places) {
    useSystemMounts = places == nullptr;
    if (places) mounts = *places;
    treeReady = false;
    if (window()) window()->setWindowTitle(QString::fromLatin1(appmsg::kAppName));
    QFileIconProvider provider;
    folderIcon = provider.icon(QAbstractFileIconProvider::Folder);
    openFolderIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    archiveIcon = appicons::Icon(QStringLiteral("archive"));
    FillDrives();
    treeReady = true;
}

void CLeftView::FillDrives() {
    if (useSystemMounts) mounts = platform::SystemMounts();
    for (const platform::MountPoint& m : mounts) AddDriveNode(m);
}

QTreeWidgetItem* CLeftView::AddDriveNode(const platform::MountPoint& mount) {
    QFileIconProvider provider;
    QIcon icon;
    switch (mount.kind) {
        case platform::MountKind::Root: icon = provider.icon(QAbstractFileIconProvider::Computer); break;
        case platform::MountKind::Home: icon = style()->standardIcon(QStyle::SP_DirHomeIcon); break;
        case platform::MountKind::Remote: icon = provider.icon(QAbstractFileIconProvider::Network); break;
        default: icon = provider.icon(QAbstractFileIconProvider::Drive); break;
    }
    auto* node = new QTreeWidgetItem(QStringList{mount.NodeText()});
    node->setIcon(0, icon);
    node->setData(0, kKindRole, kDriveNode);
    int index = 0;
    for (std::size_t i = 0; i < mounts.size(); ++i)
        if (mounts[i].path == mount.path) index = static_cast<int>(i);
    node->setData(0, kDriveIndexRole, index);
    addTopLevelItem(node);
    AddPlaceholder(node);
    return node;
}

void CLeftView::AddPlaceholder(QTreeWidgetItem* node) {
    node->addChild(new QTreeWidgetItem(QStringList{QString()}));
}

CLeftView::NodeKind CLeftView::KindOf(const QTreeWidgetItem* node) {
    return node ? static_cast<NodeKind>(node->data(0, kKindRole).toInt()) : NodeKind{};
}

QString CLeftView::GetItemPath(const QTreeWidgetItem* node) const {
    QString result;
    if (!node) return result;
    // The kind is the node's own, not read from its name: a folder called
    // x.vmra is a folder and keeps its trailing separator.
    if (KindOf(node) == kArchiveNode) {
        result = node->text(0);
        node = node->parent();
        if (!node) return result;
    }
    while (node->parent()) {
        result = node->text(0) + platform::Separator() + result;
        node = node->parent();
    }
    const int index = node->data(0, kDriveIndexRole).toInt();
    if (index < 0 || index >= static_cast<int>(mounts.size())) return QString();
    return mounts[static_cast<std::size_t>(index)].path + result;
}

bool CLeftView::IsUnread(const QTreeWidgetItem* node) {
    const QTreeWidgetItem* first = node->childCount() ? node->child(0) : nullptr;
    return first && KindOf(first) == NodeKind{} && first->text(0).isEmpty();
}

std::vector<CLeftView::Child> CLeftView::ReadFolder(const QString& path) {
    const QDir dir(path);
    std::vector<Child> children;
    QStringList folders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    for (const QString& f : folders) children.push_back({f, kFolderNode});
    // Archives follow the folders. Only files count: a folder named x.vmra
    // is already in the tree as a folder.
    for (const QString& a : dir.entryList({QStringLiteral("*.vmra")}, QDir::Files | QDir::Hidden | QDir::System,
                                          QDir::Name))
        children.push_back({a, kArchiveNode});
    return children;
}

QTreeWidgetItem* CLeftView::MakeNode(const Child& child) {
    auto* node = new QTreeWidgetItem(QStringList{child.name});
    node->setData(0, kKindRole, child.kind);
    node->setIcon(0, child.kind == kFolderNode ? folderIcon : archiveIcon);
    if (child.kind == kFolderNode) AddPlaceholder(node);
    return node;
}

QTreeWidgetItem* CLeftView::ExpandNode(QTreeWidgetItem* node, const QString& name) {
    if (!node) return nullptr;
    if (!IsUnread(node)) {
        if (name.isEmpty()) return nullptr;
        for (int i = 0; i < node->childCount(); ++i)
            if (node->child(i)->text(0) == name) return node->child(i);
        return nullptr;
    }

    delete node->takeChild(0);
    ++folderReads;
    QTreeWidgetItem* result = nullptr;
    for (const Child& c : ReadFolder(GetItemPath(node))) {
        QTreeWidgetItem* child = MakeNode(c);
        node->addChild(child);
        if (!name.isEmpty() && c.name == name && !result) result = child;
    }
    return result;
}

void CLeftView::ReadAgain(QTreeWidgetItem* node) {
    if (!node || KindOf(node) == kArchiveNode) return;
    if (IsUnread(node)) {
        ExpandNode(node, QString());
        return;
    }
    ++folderReads;
    const std::vector<Child> wanted = ReadFolder(GetItemPath(node));
    auto matches = [](const QTreeWidgetItem* item, const Child& c) {
        return item->text(0) == c.name && KindOf(item) == c.kind;
    };
    // Removing or moving a node must not list anything.
    const bool wasQuiet = quiet;
    quiet = true;
    for (int i = node->childCount() - 1; i >= 0; --i) {
        const QTreeWidgetItem* child = node->child(i);
        if (std::none_of(wanted.begin(), wanted.end(), [&](const Child& c) { return matches(child, c); }))
            delete node->takeChild(i);
    }
    // What is left is in the tree's order but for nodes added one by one
    // (a new archive goes last); each wanted child is put in its place.
    for (int k = 0; k < static_cast<int>(wanted.size()); ++k) {
        const Child& c = wanted[static_cast<std::size_t>(k)];
        if (k < node->childCount() && matches(node->child(k), c)) continue;
        int found = -1;
        for (int j = k + 1; j < node->childCount() && found < 0; ++j)
            if (matches(node->child(j), c)) found = j;
        node->insertChild(k, found >= 0 ? node->takeChild(found) : MakeNode(c));
    }
    quiet = wasQuiet;
}

QTreeWidgetItem* CLeftView::StepTo(QTreeWidgetItem* node, const QString& name) {
    QTreeWidgetItem* next = ExpandNode(node, name);
    if (next || !node || name.isEmpty()) return next;
    ReadAgain(node);
    return ChildNamed(node, name);
}

QTreeWidgetItem* CLeftView::TopNodeFor(const QString& path, QString* rest) const {
    const int index = platform::MatchMount(mounts, path);
    if (index < 0) return nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        if (top->data(0, kDriveIndexRole).toInt() == index) {
            *rest = platform::WithTrailingSeparator(path).mid(
                mounts[static_cast<std::size_t>(index)].path.size());
            return top;
        }
    }
    return nullptr;
}

QTreeWidgetItem* CLeftView::SelectedNode() const {
    const QList<QTreeWidgetItem*> sel = selectedItems();
    return sel.isEmpty() ? nullptr : sel.first();
}

void CLeftView::SelectNode(QTreeWidgetItem* node, bool list) {
    const bool wasQuiet = quiet;
    quiet = true;
    if (node) {
        setCurrentItem(node);
        node->setSelected(true);
    } else {
        clearSelection();
    }
    quiet = wasQuiet;
    selectedPath = GetItemPath(SelectedNode());
    if (list) ListSelected();
}

void CLeftView::SelectPath(const QString& path) {
    selectedPath = platform::WithTrailingSeparator(path);
    QString rest;
    QTreeWidgetItem* current = TopNodeFor(path, &rest);
    if (!current) return;
    const QStringList components = platform::SplitPath(rest);
    quiet = true;
    // Each node on the way is selected and expanded; the list shows only the
    // last one, since listing every folder on the way would be wasted work
    // (and would repeat a damaged archive's message).
    for (int i = 0;; ++i) {
        if (current) {
            setCurrentItem(current);
            current->setSelected(true);
            current->setExpanded(true);
        }
        const QString component = i < components.size() ? components[i] : QString();
        current = StepTo(current, component);
        if (current && KindOf(current) == kArchiveNode) {
            setCurrentItem(current);
            current->setSelected(true);
            break;
        }
        if (component.isEmpty()) break;
    }
    quiet = false;
    ListSelected();
}

void CLeftView::OpenPathInTree(const QString& path) {
    selectedPath = platform::WithTrailingSeparator(path);
    QString rest;
    QTreeWidgetItem* target = TopNodeFor(path, &rest);
    quiet = true;
    for (const QString& component : platform::SplitPath(rest)) {
        if (!target) break;
        target = StepTo(target, component);
    }
    if (target) {
        setCurrentItem(target);
        target->setSelected(true);
        target->setExpanded(true);
    } else {
        clearSelection();
    }
    quiet = false;
    emit NodeListed(path);
}

void CLeftView::RefreshTree() {
    const QString remembered = GetItemPath(SelectedNode());
    quiet = true;
    clear();
    FillDrives();
    quiet = false;
    if (remembered.isEmpty()) return;
    // The walk back selects the same node; the list already shows it, so it
    // is not listed again (a damaged archive would repeat its message).
    selectedPath = platform::WithTrailingSeparator(remembered);
    QString rest;
    QTreeWidgetItem* current = TopNodeFor(remembered, &rest);
    bool reached = true;
    quiet = true;
    for (const QString& component : platform::SplitPath(rest)) {
        if (!current) break;
        current->setExpanded(true);
        QTreeWidgetItem* next = ExpandNode(current, component);
        if (!next) {
            reached = false;
            break;
        }
        current = next;
    }
    if (current) {
        setCurrentItem(current);
        current->setSelected(true);
        if (KindOf(current) != kArchiveNode) current->setExpanded(true);
    }
    quiet = false;
    // The node is gone from disk: show what is selected now instead.
    if (!reached) ListSelected();
}

void CLeftView::OnSelectionChanged() {
    if (quiet) return;
    ListSelected();
}

void CLeftView::ListSelected() {
    selectedPath = GetItemPath(SelectedNode());
    emit NodeListed(selectedPath);
}

void CLeftView::OnItemExpanding(QTreeWidgetItem* node) {
    const bool wasQuiet = quiet;
    quiet = true;
    ExpandNode(node, QString());
    if (KindOf(node) == kFolderNode) node->setIcon(0, openFolderIcon);
    quiet = wasQuiet;
}

QTreeWidgetItem* CLeftView::ChildNamed(QTreeWidgetItem* node, const QString& name) {
    if (!node) return nullptr;
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == name) return node->child(i);
    return nullptr;
}

QTreeWidgetItem* CLeftView::AddArchiveNode(QTreeWidgetItem* folder, const QString& name) {
    if (!folder) return nullptr;
    // Fill the folder first: a node added under a placeholder would be
    // listed twice once the folder is read from disk.
    ExpandNode(folder, QString());
    QTreeWidgetItem* node = ChildNamed(folder, name);
    if (!node || KindOf(node) != kArchiveNode) {
        node = new QTreeWidgetItem(QStringList{name});
        node->setData(0, kKindRole, kArchiveNode);
        node->setIcon(0, archiveIcon);
        folder->addChild(node);
    }
    SelectNode(node, false);
    return node;
}

bool CLeftView::SelectParent() {
    QTreeWidgetItem* node = SelectedNode();
    if (!node || !node->parent()) return false;
    SelectNode(node->parent(), false);
    return true;
}

bool CLeftView::SelectChild(const QString& name) {
    QTreeWidgetItem* child = ChildNamed(SelectedNode(), name);
    if (!child) return false;
    SelectNode(child, false);
    return true;
}

void CLeftView::AddArchiveToSelectedFolder(const QString& name) {
    QTreeWidgetItem* node = SelectedNode();
    if (KindOf(node) == kArchiveNode) node = node->parent();
    AddArchiveNode(node, name);
}
