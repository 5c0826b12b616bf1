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

    QSize buttonSizeWithText;
    QSize buttonSizeWithoutText;

private:
    QSize FirstButtonSize() const;
};
