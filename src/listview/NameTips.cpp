#include "listview/NameTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

#include <cmath>

namespace listview {

bool IsTextCut(const QFont& font, const QString& text, QSize room, bool wrap) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WordWrap : QTextOption::ManualWrap);
    layout.setTextOption(option);
    bool tooWide = false;
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(room.width());
        if (line.naturalTextWidth() > room.width()) tooWide = true;
        height += line.height();
    }
    layout.endLayout();
    return tooWide || std::ceil(height) > room.height();
}

bool CNameTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
    if (!event || !view || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    // The room the style gives the text, less the margins it draws it in;
    // only what lies inside the view counts (a column, or the tree's names,
    // may reach past its edge).
    const QStyle* style = view->style();
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &item, view).intersected(view->viewport()->rect());
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QSize room(textRect.width() - 2 * margin, textRect.height());
    const bool wrap = item.features.testFlag(QStyleOptionViewItem::WrapText);
    if (!item.text.isEmpty() && IsTextCut(item.font, item.text, room, wrap)) {
        QToolTip::showText(event->globalPos(), item.text, view->viewport(), view->visualRect(index));
    } else {
        QToolTip::hideText();
    }
    return true;
}

}  // namespace listview
