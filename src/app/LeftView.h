#pragma once

#include <QTreeWidget>

#include <vector>

#include "listview/FolderTree.h"
#include "platform/Mounts.h"

// The folder tree: the top-level places (root, home, mounted volumes), their
// folders, read from disk on first expansion, and the archives of each folder.
// What it selects for listing it announces with NodeListed.
class CLeftView : public QTreeWidget, public IFolderTree {
    Q_OBJECT
public:
    enum NodeKind { kDriveNode = 1, kFolderNode = 2, kArchiveNode = 3 };
    // Item data roles.
    static constexpr int kKindRole = Qt::UserRole + 1;
    static constexpr int kDriveIndexRole = Qt::UserRole + 2;

    explicit CLeftView(QWidget* parent = nullptr);

    // The first update: the caption, the icons and the top-level places.
    // mounts replaces the machine's own list (tests use their own folders).
    void OnInitialUpdate();
    void OnInitialUpdate(const std::vector<platform::MountPoint>& mounts);

    // Path of a node: places and folders end with a separator, archives not.
    QString GetItemPath(const QTreeWidgetItem* node) const;
    void FillDrives();
    QTreeWidgetItem* AddDriveNode(const platform::MountPoint& mount);
    QTreeWidgetItem* ExpandNode(QTreeWidgetItem* node, const QString& name);
    // Reads a folder node's children from disk again when it was read
    // already: nodes for what is new there, none for what has gone, and the
    // others kept as they are, with whatever is open below them.
    void ReadAgain(QTreeWidgetItem* node);
    void SelectPath(const QString& path) override;
    // Walks to the node of path without selecting on the way, selects it and
    // has the list show path. Part of the frame's Open command.
    void OpenPathInTree(const QString& path);
    void RefreshTree() override;

    bool HasSelectedNode() const override { return SelectedNode() != nullptr; }
    QString SelectedPath() const override { return GetItemPath(SelectedNode()); }
    bool SelectParent() override;
    bool SelectChild(const QString& name) override;
    void AddArchiveToSelectedFolder(const QString& name) override;

    QTreeWidgetItem* SelectedNode() const;
    // The archive node of name below folder (made when the folder has not
    // got it yet), selected without listing it.
    QTreeWidgetItem* AddArchiveNode(QTreeWidgetItem* folder, const QString& name);
    // The first child of node whose text is name exactly, or none.
    static QTreeWidgetItem* ChildNamed(QTreeWidgetItem* node, const QString& name);
    // Makes node the caret and the selection; with list, the list shows it.
    void SelectNode(QTreeWidgetItem* node, bool list);
    static NodeKind KindOf(const QTreeWidgetItem* node);
    // How often a folder has been read from disk (to see that it happens once).
    int FolderReads() const { return folderReads; }

    // The places are filled in: the tree may be read again.
    bool TreeReady() const { return treeReady; }
    // The path the tree was last asked to select or open, a folder's with a
    // separator; kept when no node leads there.
    QString LastSelectedPath() const { return selectedPath; }

signals:
    // The list is to show path: the node of path was selected or opened.
    void NodeListed(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    bool treeReady = false;
    QString selectedPath;
    struct Child {
        QString name;
        NodeKind kind;
    };
    // What a folder holds for the tree, in the tree's order: its folders,
    // then its archives.
    static std::vector<Child> ReadFolder(const QString& path);
    QTreeWidgetItem* MakeNode(const Child& child);
    static bool IsUnread(const QTreeWidgetItem* node);
    // The child of node called name, the folder read again from disk when
    // it has none: the name may have been made since it was read.
    QTreeWidgetItem* StepTo(QTreeWidgetItem* node, const QString& name);
    void Initialise(const std::vector<platform::MountPoint>* places);
    QTreeWidgetItem* TopNodeFor(const QString& path, QString* rest) const;
    void OnSelectionChanged();
    void OnItemExpanding(QTreeWidgetItem* node);
    void ListSelected();
    void AddPlaceholder(QTreeWidgetItem* node);

    std::vector<platform::MountPoint> mounts;
    bool useSystemMounts = true;
    int folderReads = 0;
    bool quiet = false;  // selection changes made by the walks themselves
    QIcon folderIcon, openFolderIcon, archiveIcon;
};
