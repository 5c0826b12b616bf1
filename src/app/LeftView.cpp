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

QTreeWidgetItem* CLeftView::ExpandNode(QTreeWidgetItem* node, const QString& name) {
    if (!node) return nullptr;
    QTreeWidgetItem* first = node->childCount() ? node->child(0) : nullptr;
    const bool placeholder = first && KindOf(first) == NodeKind{} && first->text(0).isEmpty();
    if (!placeholder) {
        if (name.isEmpty()) return nullptr;
        for (int i = 0; i < node->childCount(); ++i)
            if (node->child(i)->text(0) == name) return node->child(i);
        return nullptr;
    }

    delete node->takeChild(0);
    ++folderReads;
    QTreeWidgetItem* result = nullptr;
    const QDir dir(GetItemPath(node));

    QStringList folders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    for (const QString& f : folders) {
        auto* child = new QTreeWidgetItem(QStringList{f});
        child->setData(0, kKindRole, kFolderNode);
        child->setIcon(0, folderIcon);
        node->addChild(child);
        AddPlaceholder(child);
        if (!name.isEmpty() && f == name) result = child;
    }
    // Archives follow the folders. Only files count: a folder named x.vmra
    // is already in the tree as a folder.
    const QStringList archives = dir.entryList({QStringLiteral("*.vmra")},
                                               QDir::Files | QDir::Hidden | QDir::System,
                                               QDir::Name);
    for (const QString& a : archives) {
        auto* child = new QTreeWidgetItem(QStringList{a});
        child->setData(0, kKindRole, kArchiveNode);
        child->setIcon(0, archiveIcon);
        node->addChild(child);
        if (!name.isEmpty() && a == name && !result) result = child;
    }
    return result;
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
        current = ExpandNode(current, component);
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
        target = ExpandNode(target, component);
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
