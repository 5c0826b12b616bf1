// Entries dragged out of an archive's list: the drop target (a file manager,
// the desktop) gets the extracted files, made by the extraction job.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTest>
#include <QWindow>

#include <cerrno>
#include <memory>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "LasGenerator.h"
#include "ListFixture.h"
#include "app/MainFrame.h"
#include "app/LeftView.h"
#include "archive/VMRAFile.h"
#include "las/LasException.h"
#include "listview/RightView.h"

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList FileNames(const QList<QUrl>& urls) {
    QStringList names;
    for (const QUrl& u : urls) names << QFileInfo(u.toLocalFile()).fileName();
    return names;
}

}  // namespace

class DragOutTest : public guitest::ListFixture {
protected:
    void SetUp() override {
        // The folders for dragged files go where this test can count them.
        oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(MakeFolder(QStringLiteral("tmp"))));
        guitest::ListFixture::SetUp();
    }
    void TearDown() override {
        if (frame) CloseFrame(frame);
        if (oldTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTemp);
        guitest::ListFixture::TearDown();
    }

    // An archive of generated LAS files; the originals stay in "src/".
    // Opens the archive in the list, in details style, with the focus there.
    void ShowInDetails(const QString& archive) {
        list->SetType(listview::kDetails);
        tree->SelectPath(archive);
        list->setFocus();
    }
    QString MakeArchive(const QStringList& entries) {
        const QString archive = Root() + QStringLiteral("out.vmra");
        uint64_t seed = 7;
        for (const QString& e : entries) {
            LasGenOptions o;
            o.points = 3000;
            o.seed = seed++;
            const QString las = Original(e);
            QDir().mkpath(QFileInfo(las).absolutePath());
            EXPECT_TRUE(GenerateLasFile(las.toStdString(), o));
            AddDirect(las, archive);
        }
        return archive;
    }
    QString Original(const QString& entry) const { return Root() + QStringLiteral("src/") + entry; }

    // Gives the archive's last entry another name, its checksum kept.
    static void RenameLastEntry(const QString& archive, const std::string& name) {
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype at = bytes.size() - 4 - static_cast<qsizetype>(EntryRecord::kSize);
        EntryRecord r;
        r.Load(reinterpret_cast<const uint8_t*>(bytes.constData() + at));
        const auto checksum = r.Checksum();
        ASSERT_TRUE(checksum.has_value());
        r.SetName(name);
        ASSERT_TRUE(r.SetChecksum(*checksum));
        r.Store(reinterpret_cast<uint8_t*>(bytes.data() + at));
        f.seek(0);
        f.write(bytes);
    }

    // The folders made for dragged files that are still there.
    QStringList DragFolders() const {
        return QDir(Root() + QStringLiteral("tmp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    // The user's hand: press on the item, a tremble short of the drag
    // distance, a move well past it, and the release, with the event loop
    // run between them.
    void DragAsAUser(const QString& name, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QPoint from = WindowPos(name);
        QWindow* w = frame->windowHandle();
        QTest::mousePress(w, Qt::LeftButton, mods, from);
        QApplication::processEvents();
        for (const QPoint by : {QPoint(2, 1), QPoint(4, 1), QPoint(30, 2), QPoint(60, 4)}) {
            QTest::mouseMove(w, from + by);
            QApplication::processEvents();
        }
        if (QApplication::mouseButtons() & Qt::LeftButton)
            QTest::mouseRelease(w, Qt::LeftButton, mods, from + QPoint(60, 4));
        QApplication::processEvents();
    }

    QByteArray oldTemp;
};

// Two selected entries, dragged by one of them to a file manager that copies
// what it is given: it gets both as files with the entries' bytes, from a
// folder of their own; the files stay for the copy until the window goes.
TEST_F(DragOutTest, TheDropTargetGetsTheSelectedEntriesAsExtractedFiles) {
    const QString archive =
        MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las"), QStringLiteral("c.las")});
    ShowInDetails(archive);
    Click(QStringLiteral("a.las"));
    Click(QStringLiteral("c.las"), Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames(), (QStringList{"a.las", "c.las"}));

    const QString desk = MakeFolder(QStringLiteral("desk")) + QLatin1Char('/');
    ui.dropSteps.push_back([&](const QMimeData& data) {
        for (const QUrl& u : data.urls())
            EXPECT_TRUE(QFile::copy(u.toLocalFile(), desk + QFileInfo(u.toLocalFile()).fileName()));
        return Qt::CopyAction;
    });
    DragAsAUser(QStringLiteral("c.las"));

    ASSERT_EQ(ui.drags.size(), 1u);
    const auto& drag = ui.drags[0];
    EXPECT_TRUE(drag.formats.contains(QStringLiteral("text/uri-list"))) << drag.formats.join(u' ').toStdString();
    EXPECT_EQ(drag.actions, Qt::DropActions(Qt::CopyAction));
    EXPECT_TRUE(drag.hasPixmap);
    ASSERT_EQ(FileNames(drag.urls), (QStringList{"a.las", "c.las"}));
    const QString folder = QFileInfo(drag.urls[0].toLocalFile()).absolutePath();
    EXPECT_EQ(QFileInfo(drag.urls[1].toLocalFile()).absolutePath(), folder);
    EXPECT_EQ(QFileInfo(folder).absolutePath(), QDir(Root() + QStringLiteral("tmp")).absolutePath());
    EXPECT_FALSE(QFile(folder).permissions() & (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther))
        << "others can look into the folder";
    for (const char* name : {"a.las", "c.las"}) {
        const QByteArray original = Bytes(Original(QString::fromLatin1(name)));
        ASSERT_FALSE(original.isEmpty());
        EXPECT_EQ(Bytes(desk + QString::fromLatin1(name)), original) << name;
        EXPECT_EQ(Bytes(folder + QLatin1Char('/') + QString::fromLatin1(name)), original) << name;
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"a.las", "c.las"}));
    EXPECT_TRUE(ui.shown.empty()) << ui.shown[0].text.toStdString();
    // The drag took the selection along and left it as it was; the archive
    // is untouched.
    EXPECT_EQ(list->SelectedNames(), (QStringList{"a.las", "c.las"}));
    EXPECT_EQ(list->ItemCount(), 4);

    CloseFrame(frame);
    EXPECT_EQ(DragFolders(), QStringList{});
}

// A press on an entry that was not selected drags that entry; let go where
// nothing takes it, it leaves nothing behind.
TEST_F(DragOutTest, AnEntryDroppedWhereNothingTakesItLeavesNothingBehind) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ShowInDetails(archive);
    Click(QStringLiteral("a.las"));
    DragAsAUser(QStringLiteral("b.las"));
    ASSERT_EQ(ui.drags.size(), 1u);
    EXPECT_EQ(FileNames(ui.drags[0].urls), QStringList{"b.las"});
    EXPECT_EQ(DragFolders(), QStringList{});
    EXPECT_EQ(list->SelectedNames(), QStringList{"b.las"});
}

// No folder for the files: a box says where it was to be made and why not,
// and no drag begins.
TEST_F(DragOutTest, WithoutAFolderForTheFilesABoxSaysWhy) {
    const QString archive = MakeArchive({QStringLiteral("a.las")});
    const QString missing = Root() + QStringLiteral("no/such/folder");
    qputenv("TMPDIR", QFile::encodeName(missing));
    ShowInDetails(archive);
    Click(QStringLiteral("a.las"));
    DragAsAUser(QStringLiteral("a.las"));
    EXPECT_TRUE(ui.drags.empty());
    EXPECT_EQ(ui.Texts(), QStringList{QStringLiteral("Folder for the dragged files could not be created!\n\n") +
                                      missing + QLatin1Char('\n') + QString::fromUtf8(CauseText(ENOENT))});
    EXPECT_TRUE(ui.keptOpen.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));
}

// Only a plain press on an entry of an archive starts a drag: on "..", with
// Ctrl, or in a folder's list the mouse does what it did before (in a folder,
// a press and a move select the range it passes over).
TEST_F(DragOutTest, APlainPressOnAnEntryStartsADragAndNothingElseDoes) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ShowInDetails(archive);
    DragAsAUser(QStringLiteral(".."));
    Click(QStringLiteral("a.las"));
    Click(QStringLiteral("b.las"), Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
    DragAsAUser(QStringLiteral("b.las"), Qt::ControlModifier);
    EXPECT_TRUE(ui.drags.empty());

    tree->SelectPath(Root() + QStringLiteral("src"));
    ASSERT_EQ(list->ItemCount(), 3);
    const QPoint from = WindowPos(QStringLiteral("a.las"));
    const QPoint to = WindowPos(QStringLiteral("b.las"));
    QWindow* w = frame->windowHandle();
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, from);
    QApplication::processEvents();
    for (const QPoint at : {from + QPoint(1, 1), to}) {
        QTest::mouseMove(w, at);
        QApplication::processEvents();
    }
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, to);
    QApplication::processEvents();
    EXPECT_TRUE(ui.drags.empty());
    EXPECT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
    EXPECT_EQ(DragFolders(), QStringList{});

    // In the icon styles as in details.
    tree->SelectPath(archive);
    list->SetType(listview::kLargeIcons);
    QApplication::processEvents();
    DragAsAUser(QStringLiteral("a.las"));
    ASSERT_EQ(ui.drags.size(), 1u);
    EXPECT_EQ(FileNames(ui.drags[0].urls), QStringList{"a.las"});
}

// A name the extraction would refuse is not offered: the drop target gets
// the others, and a selection of only such names starts no drag at all.
TEST_F(DragOutTest, OnlyNamesTheExtractionWouldWriteAreOffered) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    const std::string hostile = "evil\x1b[2J\r.las";
    RenameLastEntry(archive, hostile);
    const QString shown = QStringLiteral("evil\\x1b[2J\\x0d.las");
    ShowInDetails(archive);
    ASSERT_GE(Row(shown), 1);
    Click(QStringLiteral("a.las"));
    Click(shown, Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames().size(), 2);
    QStringList inFolder;
    ui.dropSteps.push_back([&](const QMimeData& data) {
        inFolder = QDir(QFileInfo(data.urls().value(0).toLocalFile()).absolutePath())
                       .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        return Qt::CopyAction;
    });
    DragAsAUser(shown);
    ASSERT_EQ(ui.drags.size(), 1u);
    EXPECT_EQ(FileNames(ui.drags[0].urls), QStringList{"a.las"});
    EXPECT_EQ(inFolder, QStringList{"a.las"});
    EXPECT_TRUE(ui.shown.empty()) << ui.shown[0].text.toStdString();

    Click(shown);
    ASSERT_EQ(list->SelectedNames(), QStringList{QString::fromStdString(hostile)});
    DragAsAUser(shown);
    EXPECT_EQ(ui.drags.size(), 1u);
    EXPECT_EQ(DragFolders().size(), 1);  // the first drag's, kept for its copy
    EXPECT_TRUE(ui.shown.empty());
}

// The extraction job does the work, with its boxes: a damaged entry is named
// in one, and the drop target gets only what came out whole.
TEST_F(DragOutTest, TheExtractionJobsBoxesComeAndOnlyWholeFilesAreDragged) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ASSERT_TRUE(guitest::DamageEntry(archive, QStringLiteral("b.las")));
    ShowInDetails(archive);
    Key(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(list->SelectedNames(), (QStringList{"a.las", "b.las"}));
    QStringList inFolder;
    ui.dropSteps.push_back([&](const QMimeData& data) {
        inFolder = QDir(QFileInfo(data.urls().value(0).toLocalFile()).absolutePath())
                       .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        return Qt::CopyAction;
    });
    DragAsAUser(QStringLiteral("a.las"));
    ASSERT_FALSE(ui.shown.empty());
    EXPECT_TRUE(ui.shown[0].text.endsWith(QStringLiteral("\n\nb.las"))) << ui.shown[0].text.toStdString();
    EXPECT_EQ(ui.keptOpen, QStringList{"Decompress"});
    ASSERT_EQ(ui.drags.size(), 1u);
    EXPECT_EQ(FileNames(ui.drags[0].urls), QStringList{"a.las"});
    EXPECT_EQ(inFolder, QStringList{"a.las"});
}

// The button let go while the entries came out (here, to close the job's
// summary): the drag is over before it began, and its files go.
TEST_F(DragOutTest, LetGoDuringTheExtractionNoDragFollows) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ASSERT_TRUE(guitest::DamageEntry(archive, QStringLiteral("b.las")));
    ShowInDetails(archive);
    Key(Qt::Key_A, Qt::ControlModifier);
    const QPoint at = WindowPos(QStringLiteral("a.las"));
    ui.keepOpenSteps.push_back([&](QDialog&) {
        QTest::mouseRelease(frame->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    });
    DragAsAUser(QStringLiteral("a.las"));
    EXPECT_EQ(ui.keptOpen, QStringList{"Decompress"});
    EXPECT_TRUE(ui.drags.empty());
    EXPECT_EQ(DragFolders(), QStringList{});
}

// The list's own entries on their way out are no files to add: dropped back
// on it, they are refused, while files from elsewhere are still taken.
TEST_F(DragOutTest, TheListRefusesItsOwnEntriesDroppedBack) {
    const QString archive = MakeArchive({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ShowInDetails(archive);
    Click(QStringLiteral("a.las"));
    auto own = std::make_unique<QMimeData>();
    ui.dropSteps.push_back([&](const QMimeData& data) {
        for (const QString& format : data.formats()) own->setData(format, data.data(format));
        return Qt::CopyAction;
    });
    DragAsAUser(QStringLiteral("a.las"));
    ASSERT_EQ(ui.drags.size(), 1u);
    ASSERT_TRUE(own->hasUrls());

    QWidget* target = static_cast<QAbstractItemView*>(list->ActiveView())->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, own.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_FALSE(enter.isAccepted());

    QMimeData outside;
    outside.setUrls(own->urls());
    QDragEnterEvent fromElsewhere(QPoint(5, 5), Qt::CopyAction, &outside, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &fromElsewhere);
    EXPECT_TRUE(fromElsewhere.isAccepted());
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &outside, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    QApplication::processEvents();
    EXPECT_EQ(ui.Texts(), QStringList{"Add files to archive?"});  // answered Cancel
}
