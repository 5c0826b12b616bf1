// The window from the keyboard alone: every menu item can be reached by its
// letter, and that letter is its own within its menu.
#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

#include "GuiFixture.h"
#include "LasGenerator.h"
#include "ListFixture.h"
#include "app/CommandIds.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "listview/RightView.h"

namespace {

// What a menu shows of a text: a single "&" marks the next letter and is
// not shown, "&&" shows one "&".
QString Shown(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// Every item of the menu has a letter, and no other item of it has the same.
void ExpectOwnMnemonics(const QList<QAction*>& items, const QString& where) {
    QHash<QString, QString> taken;
    for (const QAction* a : items) {
        if (a->isSeparator()) continue;
        const QString key = QKeySequence::mnemonic(a->text()).toString();
        EXPECT_FALSE(key.isEmpty()) << where.toStdString() << ": " << a->text().toStdString() << " has no letter";
        if (key.isEmpty()) continue;
        EXPECT_FALSE(taken.contains(key)) << where.toStdString() << ": " << a->text().toStdString() << " and "
                                          << taken.value(key).toStdString() << " share " << key.toStdString();
        taken.insert(key, a->text());
    }
}

}  // namespace

class KeyboardTest : public guitest::ListFixture {
protected:
    QString MakeArchive() {
        const QString archive = Root() + QStringLiteral("k.vmra");
        for (const char* name : {"a.las", "b.las"}) {
            LasGenOptions o;
            o.points = 3000;
            o.seed = static_cast<uint64_t>(name[0]);
            const QString las = MakeFolder(QStringLiteral("src")) + QLatin1Char('/') + QString::fromLatin1(name);
            EXPECT_TRUE(GenerateLasFile(las.toStdString(), o));
            AddDirect(las, archive);
        }
        return archive;
    }
};

TEST_F(KeyboardTest, EveryMenuItemHasALetterOfItsOwn) {
    // Recent files, one of them with "&" in its path.
    const QString plain = Root() + QStringLiteral("one.vmra");
    const QString ampersand = Root() + QStringLiteral("R&D/two.vmra");
    frame->AddRecentFile(plain);
    frame->AddRecentFile(ampersand);
    const QList<QAction*> bar = frame->menuBar()->actions();
    ExpectOwnMnemonics(bar, QStringLiteral("menu bar"));
    for (QAction* m : bar) {
        ASSERT_NE(m->menu(), nullptr);
        ExpectOwnMnemonics(m->menu()->actions(), Shown(m->text()));
    }
    ExpectOwnMnemonics(frame->Action(cmd::kView)->menu()->actions(), QStringLiteral("tool bar's View"));
    // A path is shown as it is, its "&" included.
    QStringList recent;
    for (QAction* a : bar[0]->menu()->actions())
        if (Shown(a->text()).contains(Root())) recent << Shown(a->text());
    EXPECT_EQ(recent, (QStringList{QStringLiteral("1 ") + ampersand, QStringLiteral("2 ") + plain}));

    // The list's own pop-up menus: the styles, and the commands of a
    // selection in a folder and in an archive.
    const QString archive = MakeArchive();
    tree->SelectPath(Root() + QStringLiteral("src"));
    std::unique_ptr<QMenu> styles(list->BuildContextMenu());
    ExpectOwnMnemonics(styles->actions(), QStringLiteral("list styles"));
    list->SelectAll();
    std::unique_ptr<QMenu> files(list->BuildContextMenu());
    ExpectOwnMnemonics(files->actions(), QStringLiteral("folder pop-up"));
    tree->SelectPath(archive);
    list->SelectAll();
    std::unique_ptr<QMenu> entries(list->BuildContextMenu());
    ExpectOwnMnemonics(entries->actions(), QStringLiteral("archive pop-up"));
}

// Alt+E, T as a user types it: the Edit menu opens and T runs Test at once.
TEST_F(KeyboardTest, AltEThenTTestsTheSelectedEntries) {
    const QString archive = MakeArchive();
    list->SetType(listview::kDetails);
    tree->SelectPath(archive);
    list->setFocus();
    Click(QStringLiteral("a.las"));
    ASSERT_TRUE(Enabled(cmd::kTest));
    QTest::keyClick(frame.get(), Qt::Key_E, Qt::AltModifier);
    QApplication::processEvents();
    auto* edit = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(edit, nullptr) << "Alt+E opened no menu";
    QTest::keyClick(edit, Qt::Key_T);
    QApplication::processEvents();
    const bool stillOpen = QApplication::activePopupWidget() != nullptr;
    if (stillOpen) QApplication::activePopupWidget()->close();
    EXPECT_FALSE(stillOpen) << "T only moved the highlight";
    EXPECT_EQ(ui.keptOpen, QStringList{"Test"});
}
