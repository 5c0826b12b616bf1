#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTreeView>

#include <cerrno>
#include <cstring>

#include <QElapsedTimer>
#include <QStatusBar>

#include <chrono>
#include <thread>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "LasGenerator.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "listview/ListLogic.h"
#include "listview/ListMessages.h"
#include "listview/RightView.h"

using guitest::GuiFixture;
using platform::MsgIcon;

namespace {
QStringList Column(const CRightView* v, int column) {
    QStringList n;
    for (int r = 0; r < v->ItemCount(); ++r) n << v->ItemText(r, column);
    return n;
}
QString Q(const char* s) { return QString::fromUtf8(s); }
bool Generate(const QString& path, uint64_t points, int format) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    return GenerateLasFile(path.toStdString(), o);
}
void AddTo(const QString& archive, const QString& las) {
    VMRAFile v;
    v.AddLasFile(las.toStdString(), archive.toStdString());
}
}  // namespace

class ArchiveListTest : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        corpus = QString::fromStdString(testsupport::CorpusDir());
        frame = StartFrame();
        list = frame->RightView();
    }
    // An archive made by the archive code from corpus files.
    QString MakeArchive(const QString& name, const QStringList& corpusFiles) {
        const QString archive = Root() + name;
        VMRAFile v;
        for (const QString& f : corpusFiles) {
            const QString copy = Root() + f;
            QFile::copy(corpus + QLatin1Char('/') + f, copy);
            v.AddLasFile(copy.toStdString(), archive.toStdString());
        }
        return archive;
    }
    QString corpus;
    std::unique_ptr<CMainFrame> frame;
    CRightView* list = nullptr;
};

TEST_F(ArchiveListTest, EntriesWithSizesPackedAndRatio) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive =
        MakeArchive(QStringLiteral("three.vmra"), {"autzen_trim.las", "point10.las", "100_points.las"});
    list->ShowPath(archive);
    EXPECT_TRUE(list->ArchiveMode());
    EXPECT_EQ(Column(list, 0), (QStringList{"..", "autzen_trim.las", "point10.las", "100_points.las"}));
    VMRAFile v;
    CFile f(archive.toStdString(), "rb");
    ASSERT_GE(v.ReadEntryCount(f), 3);
    v.ReadDirectory(f);
    for (int i = 0; i < 3; ++i) {
        const EntryRecord& r = v.Directory()[static_cast<std::size_t>(i)];
        EXPECT_EQ(list->ItemText(i + 1, 1), listview::FormatByteCount(r.uncompressedSize));
        EXPECT_EQ(list->ItemText(i + 1, 2), listview::FormatByteCount(r.storedSize));
        EXPECT_EQ(list->ItemText(i + 1, 3),
                  QString::asprintf("%.2f%%", 100.0 * r.storedSize / r.uncompressedSize));
    }
    EXPECT_EQ(list->ItemText(1, 1), QStringLiteral("3.742.038 B"));
    EXPECT_EQ(list->DetailsView()->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Ratio"));

    // The least compressed entry first, then reversed; ".." stays on top.
    list->OnHeaderClick(3);
    EXPECT_EQ(list->ItemText(0), QStringLiteral(".."));
    const double first = list->ItemText(1, 3).chopped(1).toDouble();
    const double last = list->ItemText(3, 3).chopped(1).toDouble();
    EXPECT_GE(first, last);
    list->OnHeaderClick(3);
    EXPECT_LE(list->ItemText(1, 3).chopped(1).toDouble(), list->ItemText(3, 3).chopped(1).toDouble());
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ArchiveListTest, EmptyArchiveListsOnlyUpWithoutAMessage) {
    QFile(Root() + QStringLiteral("empty.vmra")).open(QIODevice::WriteOnly);
    list->ShowPath(Root() + QStringLiteral("empty.vmra"));
    EXPECT_TRUE(list->ArchiveMode());
    EXPECT_EQ(Column(list, 0), QStringList{".."});
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ArchiveListTest, NonArchiveSaysWrongFileFormat) {
    QFile fake(Root() + QStringLiteral("fake.vmra"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write(QByteArray(600, 'x'));
    fake.close();
    list->ShowPath(Root() + QStringLiteral("fake.vmra"));
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Wrong file format!\n\n") + Root() + QStringLiteral("fake.vmra"));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(ui.shown[0].caption, QStringLiteral("Velmora"));
    EXPECT_EQ(Column(list, 0), QStringList{".."});
    EXPECT_TRUE(list->ArchiveMode());
}

TEST_F(ArchiveListTest, VanishedArchiveSaysErrorOpeningFile) {
    list->ShowPath(Root() + QStringLiteral("gone.vmra"));
    ASSERT_EQ(ui.shown.size(), 1u);
    // The window's text, the archive, and the system's reason.
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Error opening file!\n\n") + Root() +
                                    QStringLiteral("gone.vmra\n") + QString::fromUtf8(std::strerror(ENOENT)));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::None);
    EXPECT_EQ(Column(list, 0), QStringList{".."});
}

TEST_F(ArchiveListTest, BackToAFolderRestoresItsColumnsAndForgetsTheSort) {
    QFile(Root() + QStringLiteral("e.vmra")).open(QIODevice::WriteOnly);
    list->SetType(listview::kDetails);
    list->SetWidth(false, 0, 210);
    list->SetWidth(true, 0, 123);
    list->ShowPath(Root());
    list->OnHeaderClick(1);
    list->ShowPath(Root() + QStringLiteral("e.vmra"));
    EXPECT_EQ(list->SortColumn(), -1);
    EXPECT_EQ(list->DetailsView()->model()->columnCount(), 8);
    EXPECT_EQ(list->DetailsView()->columnWidth(0), 123);
    list->OnHeaderClick(2);
    list->ShowPath(Root());
    EXPECT_EQ(list->SortColumn(), -1);
    EXPECT_EQ(list->SortDirection(), 1);
    EXPECT_EQ(list->DetailsView()->model()->columnCount(), 3);
    EXPECT_EQ(list->DetailsView()->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Last modified"));
    EXPECT_EQ(list->DetailsView()->columnWidth(0), 210);
}

TEST_F(ArchiveListTest, StoredArchivePathIsReopenedAsTheArchive) {
    QFile(Root() + QStringLiteral("kept.vmra")).open(QIODevice::WriteOnly);
    frame->LeftView()->SelectPath(Root() + QStringLiteral("kept.vmra"));
    CloseFrame(frame);
    EXPECT_EQ(ReadSetting("Path"), Root() + QStringLiteral("kept.vmra"));
    frame = StartFrame();
    EXPECT_TRUE(frame->RightView()->ArchiveMode());
    EXPECT_EQ(frame->RightView()->CurrentPath(), Root() + QStringLiteral("kept.vmra"));
    EXPECT_EQ(CLeftView::KindOf(frame->LeftView()->SelectedNode()), CLeftView::kArchiveNode);
}

// Another program changes the archive: the list says so at once instead of
// freezing the window until the other program is done.
TEST_F(ArchiveListTest, ABusyArchiveIsNotWaitedFor) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = MakeArchive(QStringLiteral("busy.vmra"), {"point10.las"});
    guitest::CHeldArchiveLock other(archive);
    ASSERT_TRUE(other.Held());
    // A list that waited would be let go here, and list the entry late. From
    // a thread of its own: a waiting list would hold the window's.
    std::thread finisher([&] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        other.Release();
    });
    QElapsedTimer clock;
    clock.start();
    list->ShowPath(archive);
    EXPECT_LT(clock.elapsed(), 2000);
    finisher.join();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("The archive is being changed by another program.\n\n") + archive);
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(Column(list, 0), QStringList{".."});

    list->ShowPath(archive);
    EXPECT_EQ(Column(list, 0), (QStringList{"..", "point10.las"}));
    EXPECT_EQ(ui.shown.size(), 1u);
}

TEST_F(ArchiveListTest, AnArchivePutRightWhileListedIsSaidInTheStatusBar) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = MakeArchive(QStringLiteral("kept.vmra"), {"point10.las"});
    QFile::copy(corpus + QStringLiteral("/100_points.las"), Root() + QStringLiteral("late.las"));
    QFile before(archive);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    before.close();
    ASSERT_TRUE(guitest::LeaveInterruptedChange(archive, Root() + QStringLiteral("late.las")));
    frame->statusBar()->clearMessage();
    list->ShowPath(archive);
    EXPECT_EQ(frame->statusBar()->currentMessage(),
              archive + QStringLiteral(": ") + QString::fromLatin1(archmsg::kRecovered));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(Column(list, 0), (QStringList{"..", "point10.las"}));
    EXPECT_FALSE(QFileInfo::exists(archive + QStringLiteral("-journal")));
    QFile after(archive);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), bytes);
}

// Entry names are bytes anyone may have written: the list shows them escaped
// (a right-to-left override would reorder the name's letters on screen), and
// the commands still address each entry by the name it has.
TEST_F(ArchiveListTest, EntryNamesAreShownEscapedAndCommandsUseTheirOwnName) {
    const std::string las = (Root() + QStringLiteral("a.las")).toStdString();
    const std::string copy = (Root() + QStringLiteral("b.las")).toStdString();
    LasGenOptions o;
    o.points = 300;
    ASSERT_TRUE(GenerateLasFile(las, o));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(las), QString::fromStdString(copy)));
    const QString archive = Root() + QStringLiteral("names.vmra");
    VMRAFile v;
    v.AddLasFile(las, archive.toStdString());
    v.AddLasFile(copy, archive.toStdString());
    // The second entry renamed to a name with ESC, CR, a C1 control and the
    // right-to-left override (its checksum record goes with the old name).
    const std::string evil = "evil\x1b[31m\r\xc2\x9b\xe2\x80\xaesal.las";
    auto bytes = testsupport::ReadAll(archive.toStdString());
    uint8_t* field = bytes.data() + bytes.size() - 4 - 268 + 12;
    std::fill_n(field, 256, 0);
    std::memcpy(field, evil.data(), evil.size());
    testsupport::WriteAll(archive.toStdString(), bytes);

    list->ShowPath(archive);
    ASSERT_TRUE(ui.shown.empty()) << ui.shown[0].text.toStdString();
    EXPECT_EQ(Column(list, 0),
              (QStringList{"..", "a.las", QStringLiteral("evil\\x1b[31m\\x0d\\u009b\\u202esal.las")}));
    list->SetItemSelected(2, true);
    ASSERT_EQ(list->SelectedNames(), QStringList{QString::fromStdString(evil)});
    // The name the commands get finds the entry in the archive.
    EXPECT_FALSE(v.TestEntry(archive.toStdString(), list->SelectedNames()[0].toStdString()));
    // Sorting and listing again keep the selection on that entry.
    list->OnHeaderClick(0);
    list->Refresh();
    EXPECT_EQ(list->SelectedNames(), QStringList{QString::fromStdString(evil)});
}

// The columns of the archive list are shown and hidden from the heading's
// menu; which are shown, and their widths, are kept for the next start.
TEST_F(ArchiveListTest, HiddenColumnsStayHiddenInTheNextWindow) {
    QDir().mkpath(Root() + QStringLiteral("col"));
    ASSERT_TRUE(Generate(Root() + QStringLiteral("col/a.las"), 500, 1));
    const QString archive = Root() + QStringLiteral("col/a.vmra");
    AddTo(archive, Root() + QStringLiteral("col/a.las"));
    list->SetType(listview::kDetails);
    frame->LeftView()->SelectPath(archive);
    list->DetailsView()->setColumnWidth(listview::kColumnPoints, 133);
    {
        std::unique_ptr<QMenu> menu(list->BuildHeaderMenu());
        QStringList texts;
        QAction* points = nullptr;
        for (QAction* a : menu->actions()) {
            texts << a->text();
            if (a->text() == Q(listmsg::kColPoints)) points = a;
        }
        EXPECT_EQ(texts, (QStringList{"Size", "Packed", "Ratio", "Version", "Format", "Points", "Checksum"}));
        ASSERT_TRUE(points);
        EXPECT_TRUE(points->isChecked());
        points->trigger();
    }
    EXPECT_TRUE(list->DetailsView()->isColumnHidden(listview::kColumnPoints));
    EXPECT_FALSE(list->IsColumnShown(listview::kColumnPoints));
    EXPECT_TRUE(list->IsColumnShown(listview::kColumnChecksum));
    // The folder's columns are the folder's own.
    frame->LeftView()->SelectPath(Root() + QStringLiteral("col"));
    EXPECT_FALSE(list->DetailsView()->isColumnHidden(1));
    list->SetColumnShown(2, false);
    EXPECT_TRUE(list->DetailsView()->isColumnHidden(2));
    frame->LeftView()->SelectPath(archive);
    CloseFrame(frame);

    frame = StartFrame();
    list = frame->RightView();
    EXPECT_TRUE(list->ArchiveMode());
    EXPECT_TRUE(list->DetailsView()->isColumnHidden(listview::kColumnPoints));
    EXPECT_FALSE(list->DetailsView()->isColumnHidden(listview::kColumnChecksum));
    EXPECT_FALSE(list->DetailsView()->isColumnHidden(listview::kColumnVersion));
    // Shown again at the width it had.
    list->SetColumnShown(listview::kColumnPoints, true);
    EXPECT_FALSE(list->DetailsView()->isColumnHidden(listview::kColumnPoints));
    EXPECT_EQ(list->DetailsView()->columnWidth(listview::kColumnPoints), 133);
    frame->LeftView()->SelectPath(Root() + QStringLiteral("col"));
    EXPECT_TRUE(list->DetailsView()->isColumnHidden(2));
    EXPECT_FALSE(list->DetailsView()->isColumnHidden(1));
}

// The figures of the entries' headers, and the sort by them: points as
// numbers, largest first.
TEST_F(ArchiveListTest, TheEntriesHeaderFiguresAndTheirSort) {
    QDir().mkpath(Root() + QStringLiteral("s"));
    const QString archive = Root() + QStringLiteral("s/s.vmra");
    const struct { const char* name; uint64_t points; int format; } files[] = {
        {"few.las", 900, 1}, {"many.las", 10000, 3}, {"none.las", 50, 0}};
    for (const auto& f : files) {
        const QString las = Root() + QStringLiteral("s/") + Q(f.name);
        ASSERT_TRUE(Generate(las, f.points, f.format));
        AddTo(archive, las);
    }
    list->ShowPath(archive);
    const int many = Column(list, 0).indexOf(QStringLiteral("many.las"));
    EXPECT_EQ(list->ItemText(many, listview::kColumnVersion), Q("1.2"));
    EXPECT_EQ(list->ItemText(many, listview::kColumnFormat), Q("3"));
    EXPECT_EQ(list->ItemText(many, listview::kColumnPoints), Q("10.000"));
    EXPECT_EQ(list->ItemText(many, listview::kColumnChecksum), Q("yes"));
    list->OnHeaderClick(listview::kColumnPoints);
    QStringList names;
    for (int r = 1; r < list->ItemCount(); ++r) names << list->ItemText(r);
    EXPECT_EQ(names, (QStringList{"many.las", "few.las", "none.las"}));
    list->OnHeaderClick(listview::kColumnFormat);
    names.clear();
    for (int r = 1; r < list->ItemCount(); ++r) names << list->ItemText(r);
    EXPECT_EQ(names, (QStringList{"many.las", "few.las", "none.las"}));
    list->OnHeaderClick(listview::kColumnFormat);
    names.clear();
    for (int r = 1; r < list->ItemCount(); ++r) names << list->ItemText(r);
    EXPECT_EQ(names, (QStringList{"none.las", "few.las", "many.las"}));
}

// The status bar says what the archive or folder holds, and what of it is
// selected.
TEST_F(ArchiveListTest, TheStatusBarCountsWhatIsListedAndSelected) {
    QDir().mkpath(Root() + QStringLiteral("t"));
    ASSERT_TRUE(Generate(Root() + QStringLiteral("t/a.las"), 3000, 1));
    ASSERT_TRUE(Generate(Root() + QStringLiteral("t/b.las"), 7000, 3));
    const qint64 a = QFileInfo(Root() + QStringLiteral("t/a.las")).size();
    const qint64 b = QFileInfo(Root() + QStringLiteral("t/b.las")).size();
    const QString archive = Root() + QStringLiteral("t/t.vmra");
    AddTo(archive, Root() + QStringLiteral("t/a.las"));
    AddTo(archive, Root() + QStringLiteral("t/b.las"));
    const qint64 stored = QFileInfo(archive).size();
    auto select = [this](const QString& name) { list->SetItemSelected(Column(list, 0).indexOf(name), true); };

    frame->LeftView()->SelectPath(Root() + QStringLiteral("t"));
    const QString three = Q("3 files, ") + listview::FormatShortSize(a + b + stored);
    EXPECT_EQ(frame->StatusSummary(), three);
    select(QStringLiteral("b.las"));
    EXPECT_EQ(frame->StatusSummary(), three + Q(" \u2014 1 selected, ") + listview::FormatShortSize(b));

    frame->LeftView()->SelectPath(archive);
    const listview::ArchiveListing listing = listview::ReadArchiveListing(archive);
    ASSERT_EQ(listing.entries.size(), 2u);
    const qint64 packed = listing.entries[0].packed + listing.entries[1].packed;
    EXPECT_LT(packed, stored);
    const QString percent = QString::number(100.0 * packed / (a + b), 'f', 1);
    const QString holds = Q("2 entries, ") + listview::FormatShortSize(a + b) + Q(" in ") +
                          listview::FormatShortSize(packed) + Q(" (") + percent + Q(" %)");
    EXPECT_EQ(frame->StatusSummary(), holds);
    select(QStringLiteral("a.las"));
    select(QStringLiteral("b.las"));
    EXPECT_EQ(frame->StatusSummary(), holds + Q(" \u2014 2 selected, ") + listview::FormatShortSize(a + b));

    const QString empty = Root() + QStringLiteral("t/empty.vmra");
    QFile(empty).open(QIODevice::WriteOnly);
    frame->LeftView()->SelectPath(empty);
    EXPECT_EQ(frame->StatusSummary(), Q("0 entries, 0 B"));
}
