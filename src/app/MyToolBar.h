#pragma once

#include <QSize>
#include <QToolBar>

// The tool bar of large labelled buttons. The labels sit below the images;
// ShowButtonText switches them on and off and keeps both button sizes.
class CMyToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit CMyToolBar(QWidget* parent = nullptr);

    void ShowButtonText(bool show);
    void ApplyTextMode(bool show);

    // Both sizes are taken the first time the labels are switched; empty
    // before.
    QSize ButtonSizeWithText() const { return buttonSizeWithText; }
    QSize ButtonSizeWithoutText() const { return buttonSizeWithoutText; }

private:
    QSize buttonSizeWithText;
    QSize buttonSizeWithoutText;
    QSize FirstButtonSize() const;
};
