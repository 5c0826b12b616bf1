#include "app/MyToolBar.h"

#include <QAction>
#include <QToolButton>

CMyToolBar::CMyToolBar(QWidget* parent) : QToolBar(parent) {
    setObjectName(QStringLiteral("toolBar"));
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(64, 64));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

QSize CMyToolBar::FirstButtonSize() const {
    const QList<QAction*> all = actions();
    for (QAction* a : all) {
        if (a->isSeparator()) continue;
        if (QWidget* w = widgetForAction(a)) return w->sizeHint();
    }
    return QSize();
}

void CMyToolBar::ShowButtonText(bool show) {
    if (buttonSizeWithText.isEmpty()) {
        buttonSizeWithoutText = FirstButtonSize();
        // The labels are the actions' icon texts, set when the buttons were
        // made; the size with labels is taken once they show.
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        buttonSizeWithText = FirstButtonSize();
    }
    ApplyTextMode(show);
}

void CMyToolBar::ApplyTextMode(bool show) {
    setToolButtonStyle(show ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
}
