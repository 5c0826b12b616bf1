// Questions and boxes of the list that are about files say which: deleting,
// a file that could not be deleted, and the deletion of archive entries.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>

#include <cerrno>

#include "GuiFixture.h"
#include "LasGenerator.h"
#include "ListFixture.h"
#include "app/CommandIds.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "las/LasException.h"
#include "listview/ArchiveListing.h"
#include "listview/DeleteDlg.h"
#include "listview/ListLogic.h"
#include "listview/RightView.h"

using platform::MsgResult;

class NamedQuestionsTest : public guitest::ListFixture {
protected:
    // An archive of generated LAS files, one entry each.
    QString MakeArchive(const QString& name, const QStringList& entries) {
        const QString archive = Root() + name;
        uint64_t seed = 1;
        for (const QString& e : entries) {
            LasGenOptions o;
            o.points = 4000;
            o.seed = seed++;
            const QString las = MakeFolder(QStringLiteral("src")) + QLatin1Char('/') + e;
            EXPECT_TRUE(GenerateLasFile(las.toStdString(), o));
            AddDirect(las, archive);
        }
        return archive;
    }
};

TEST_F(NamedQuestionsTest, TheDeleteQuestionNamesWhatIsSelected) {
    MakeFile(QStringLiteral("del/a.las"));
    MakeFile(QStringLiteral("del/b.las"));
    for (int i = 0; i < 12; ++i) MakeFile(QStringLiteral("del/m%1.las").arg(i, 2, 10, QLatin1Char('0')));
    const QString evil = QStringLiteral("n\x1b[2J\r.las");
    MakeFile(QStringLiteral("del/") + evil);
    list->SetType(listview::kDetails);
    tree->SelectPath(Root() + QStringLiteral("del"));
    list->setFocus();

    Click(QStringLiteral("a.las"));
    Key(Qt::Key_Delete);  // answered Cancel
    Click(QStringLiteral("b.las"), Qt::ControlModifier);
    Key(Qt::Key_Delete);
    // A name that would steer the box is shown escaped.
    Click(evil);
    Key(Qt::Key_Delete);
    ASSERT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Delete selected file?\n\na.las"));
    EXPECT_EQ(ui.shown[1].text, QStringLiteral("Delete selected files?\n\na.las\nb.las"));
    EXPECT_EQ(ui.shown[2].text, QStringLiteral("Delete selected file?\n\nn\\x1b[2J\\x0d.las"));

    // Many: the first ten, and how many more.
    Key(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames().size(), 15);
    Key(Qt::Key_Delete);
    ASSERT_EQ(ui.shown.size(), 4u);
    const QStringList lines = ui.shown[3].text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 13) << ui.shown[3].text.toStdString();
    EXPECT_EQ(lines.mid(0, 4), (QStringList{"Delete selected files?", "", "a.las", "b.las"}));
    EXPECT_EQ(lines[11], QStringLiteral("m07.las"));
    EXPECT_EQ(lines[12], QStringLiteral("and 5 more"));
    EXPECT_EQ(list->ItemCount(), 16);  // all answered Cancel: nothing deleted
}

TEST_F(NamedQuestionsTest, AFileThatCouldNotBeDeletedIsNamedWithTheReason) {
    MakeFile(QStringLiteral("gone/a.las"));
    MakeFile(QStringLiteral("gone/b.las"));
    tree->SelectPath(Root() + QStringLiteral("gone"));
    list->SetItemSelected(Row(QStringLiteral("a.las")), true);
    list->SetItemSelected(Row(QStringLiteral("b.las")), true);
    QFile::remove(Root() + QStringLiteral("gone/a.las"));  // by another program
    ui.answers.push_back(MsgResult::Ok);
    list->DeleteSelected();
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[1].text, QStringLiteral("File could not be deleted!\n\n") + Root() +
                                    QStringLiteral("gone/a.las\n") + QString::fromUtf8(CauseText(ENOENT)));
    EXPECT_FALSE(QFile::exists(Root() + QStringLiteral("gone/b.las")));
}

TEST_F(NamedQuestionsTest, TheEntryQuestionNamesTheEntries) {
    const QString archive = MakeArchive(QStringLiteral("e.vmra"), {QStringLiteral("a.las"), QStringLiteral("b.las")});
    tree->SelectPath(archive);
    list->SetItemSelected(Row(QStringLiteral("b.las")), true);
    list->DeleteSelected();  // answered Cancel
    EXPECT_EQ(ui.Texts(), QStringList{"Delete selected file?\n\nb.las"});
    EXPECT_EQ(list->ItemCount(), 3);
}

// The dialog says which entry it is deleting, and its bar moves on as each
// one is done instead of sitting at the start until the end.
TEST_F(NamedQuestionsTest, TheDeletionDialogShowsEachEntryAndMovesPerEntry) {
    const QString archive = MakeArchive(QStringLiteral("three.vmra"),
                                        {QStringLiteral("a.las"), QStringLiteral("b.las"), QStringLiteral("c.las")});
    DeleteDlg dlg(nullptr, archive, {QStringLiteral("a.las"), QStringLiteral("b.las"), QStringLiteral("c.las")});
    auto* bar = dlg.findChild<QProgressBar*>();
    auto* entry = dlg.findChild<QLabel*>(QStringLiteral("entry"));
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(entry, nullptr) << "the dialog does not say which entry it deletes";
    QStringList named;
    QList<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, &dlg, [&](int v) {
        values << v;
        if (named.isEmpty() || named.last() != entry->text()) named << entry->text();
    });
    dlg.exec();
    EXPECT_FALSE(dlg.Failed());
    EXPECT_EQ(named, (QStringList{"Deleting file a.las...", "Deleting file b.las...", "Deleting file c.las..."}));
    ASSERT_FALSE(values.isEmpty());
    EXPECT_EQ(values.last(), 100);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << "the bar went back";
    EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](int v) { return v > 0 && v < 100; }))
        << "the bar jumped from the start to the end";
    EXPECT_EQ(QFileInfo(archive).size(), 0);
}

// A long name, as surveys name their strips, wraps onto the lines it needs
// and the dialog grows to show them, rather than cutting the name off.
TEST_F(NamedQuestionsTest, ALongEntryNameShowsWholeInTheDeletionDialog) {
    const QString name = QStringLiteral("Survey 2026 block 17 flight line 0042 north strip second pass.las");
    const QString archive = MakeArchive(QStringLiteral("long.vmra"), {name});
    DeleteDlg dlg(nullptr, archive, {name});
    auto* entry = dlg.findChild<QLabel*>(QStringLiteral("entry"));
    ASSERT_NE(entry, nullptr);
    const int width = dlg.width();
    dlg.exec();
    ASSERT_FALSE(dlg.Failed());
    EXPECT_EQ(entry->text(), QStringLiteral("Deleting file ") + name + QStringLiteral("..."));
    EXPECT_EQ(dlg.width(), width);
    EXPECT_GT(entry->heightForWidth(entry->width()), entry->fontMetrics().height()) << "the name needs no wrap";
    EXPECT_LE(entry->heightForWidth(entry->width()), entry->height()) << "the name is cut off below";
}
