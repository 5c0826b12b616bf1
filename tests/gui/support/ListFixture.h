#pragma once

#include <QString>

#include <memory>

#include "GuiFixture.h"

class CLeftView;
class CMainFrame;
class CRightView;

namespace guitest {

// A started and active main window, with the user's ways of reaching the
// file list: clicks on its items, keys, and the corpus's LAS files copied
// in under names of the test's own.
class ListFixture : public GuiFixture {
protected:
    void SetUp() override;

    QString Las(const char* corpusName, const QString& as);
    static void AddDirect(const QString& las, const QString& archive);
    // The list's row showing name, or -1.
    int Row(const QString& name) const;
    // A left click on the item as the user makes it.
    void Click(const QString& name, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // Where the item is, in the frame window's coordinates.
    QPoint WindowPos(const QString& name);
    // Mouse events through the window system, in the rhythm of a hand: the
    // event loop runs between the two clicks, and the second press arrives
    // soon enough to count as a double click.
    void ClickAsAUser(const QString& name);
    void DoubleClickAsAUser(const QString& name);
    // A key pressed and released on the widget that has the focus.
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
    QString TreePath() const;
    bool Enabled(int id) const;

    QString corpus;
    std::unique_ptr<CMainFrame> frame;
    CRightView* list = nullptr;
    CLeftView* tree = nullptr;
};

}  // namespace guitest
