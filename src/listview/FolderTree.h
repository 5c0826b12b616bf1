#pragma once

#include <QString>

// What the file list asks of the folder tree beside it. The frame hands the
// list its tree through this, and the tree tells the frame what to list by a
// signal, so the list knows no tree widget and the tree no list.
class IFolderTree {
public:
    // False when no node of the tree is selected.
    virtual bool HasSelectedNode() const = 0;
    // The selected node's path: places and folders end with a separator,
    // archives do not. Empty when nothing is selected.
    virtual QString SelectedPath() const = 0;
    // Select without listing: the selected node's parent, or its child whose
    // text is name exactly. False (and nothing changes) when there is none.
    virtual bool SelectParent() = 0;
    virtual bool SelectChild(const QString& name) = 0;
    // The node of a new archive called name in the selected folder, or
    // beside the selected archive; selected, not listed.
    virtual void AddArchiveToSelectedFolder(const QString& name) = 0;
    // Reads the tree from disk again, keeping the selected node.
    virtual void RefreshTree() = 0;
    // Walks to path, selects its node and lists it.
    virtual void SelectPath(const QString& path) = 0;

protected:
    ~IFolderTree() = default;
};
