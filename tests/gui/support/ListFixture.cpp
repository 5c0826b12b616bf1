#include "ListFixture.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QWindow>

#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "archive/VMRAFile.h"
#include "listview/RightView.h"

namespace guitest {

void ListFixture::SetUp() {
    GuiFixture::SetUp();
    corpus = QString::fromStdString(testsupport::CorpusDir());
    frame = StartFrame();
    list = frame->RightView();
    tree = frame->LeftView();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
}

QString ListFixture::Las(const char* corpusName, const QString& as) {
    const QString to = Root() + as;
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::copy(corpus + QLatin1Char('/') + QString::fromLatin1(corpusName), to);
    return to;
}

void ListFixture::AddDirect(const QString& las, const QString& archive) {
    VMRAFile v;
    v.AddLasFile(las.toStdString(), archive.toStdString());
}

int ListFixture::Row(const QString& name) const {
    for (int r = 0; r < list->ItemCount(); ++r)
        if (list->ItemText(r) == name) return r;
    return -1;
}

void ListFixture::Click(const QString& name, Qt::KeyboardModifiers mods) {
    auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
    const QModelIndex index = view->model()->index(Row(name), 0);
    ASSERT_TRUE(index.isValid()) << name.toStdString();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, view->visualRect(index).center());
    QApplication::processEvents();
}

QPoint ListFixture::WindowPos(const QString& name) {
    auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
    const QModelIndex index = view->model()->index(Row(name), 0);
    EXPECT_TRUE(index.isValid()) << name.toStdString();
    return view->viewport()->mapTo(frame.get(), view->visualRect(index).center());
}

void ListFixture::ClickAsAUser(const QString& name) {
    const QPoint at = WindowPos(name);
    QTest::mousePress(frame->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(frame->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();
}

void ListFixture::DoubleClickAsAUser(const QString& name) {
    const QPoint at = WindowPos(name);
    ClickAsAUser(name);
    QTest::lastMouseTimestamp -= QTest::mouseDoubleClickInterval - 50;
    QTest::mousePress(frame->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(frame->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();
}

void ListFixture::Key(int key, Qt::KeyboardModifiers mods) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), mods);
    QApplication::processEvents();
}

QString ListFixture::TreePath() const { return tree->GetItemPath(tree->SelectedNode()); }

bool ListFixture::Enabled(int id) const { return frame->Action(id)->isEnabled(); }

}  // namespace guitest
