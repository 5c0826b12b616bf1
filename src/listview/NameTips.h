#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QStyledItemDelegate>

namespace listview {

// True when text, laid out in font within room (on several lines when wrap
// is set), does not fit: a line is wider than the room, or the lines are
// taller than it. The item views then draw the text cut off.
bool IsTextCut(const QFont& font, const QString& text, QSize room, bool wrap);

// The item delegate of the tree and the list: as the standard one, and a
// name that its item cannot show whole, or that reaches past the view's
// edge, shows in full as the tool tip.
class CNameTipDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

}  // namespace listview
