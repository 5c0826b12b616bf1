// The details pane beside the list, through the window as the user
// reaches it: what it says of the selected LAS file or entry, its picture
// of the points, and how it follows the selection.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cstring>
#include <memory>

#include "ArchiveStates.h"
#include "LasGenerator.h"
#include "ListFixture.h"
#include "app/CommandIds.h"
#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "archive/VMRAFile.h"
#include "listview/DetailsLogic.h"
#include "listview/DetailsPane.h"
#include "listview/ListLogic.h"
#include "listview/ListMessages.h"
#include "listview/PointPreview.h"
#include "listview/RightView.h"
#include "velmora/velmora.hpp"

using guitest::ListFixture;
using preview::CPreviewRun;

namespace {

QString S(const char* s) { return QString::fromUtf8(s); }

// One hand-made point: raw coordinates and colour.
struct Point {
    int32_t x, y, z;
    uint16_t red = 0, green = 0, blue = 0;
};

// A LAS file of exactly these points, written through the generator's
// writer (which fills in the header's bounds from them).
bool WritePoints(const QString& path, int format, const std::vector<Point>& points) {
    LasGenOptions o;
    o.format = format;
    o.vlrCount = 0;
    LasFileWriter w;
    if (!w.Begin(path.toStdString(), o)) return false;
    const PointLayout& layout = w.Records();
    std::vector<uint8_t> records(points.size() * layout.recordLength, 0);
    // Little-endian in the file and on every machine the tests run on.
    auto put = [](uint8_t* at, auto value) { std::memcpy(at, &value, sizeof value); };
    for (std::size_t i = 0; i < points.size(); ++i) {
        uint8_t* r = records.data() + i * layout.recordLength;
        put(r + layout.Find(FieldRole::X)->offset, points[i].x);
        put(r + layout.Find(FieldRole::Y)->offset, points[i].y);
        put(r + layout.Find(FieldRole::Z)->offset, points[i].z);
        r[layout.Find(FieldRole::ReturnByte)->offset] = 0x09;  // return 1 of 1
        if (const PointField* red = layout.Find(FieldRole::Red)) {
            put(r + red->offset, points[i].red);
            put(r + layout.Find(FieldRole::Green)->offset, points[i].green);
            put(r + layout.Find(FieldRole::Blue)->offset, points[i].blue);
        }
    }
    return w.Add(records.data(), points.size()) && w.Finish();
}

bool Generate(const QString& path, uint64_t points, int format) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    return GenerateLasFile(path.toStdString(), o);
}

uint32_t Argb(preview::Rgb c) { return 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }

}  // namespace

class DetailsPaneTest : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        pane = frame->DetailsPane();
    }
    void ShowPane() {
        frame->Action(cmd::kDetailsPane)->setChecked(true);
        ASSERT_TRUE(pane->isVisible());
    }
    // Until the pane has read what it shows and every worker has ended.
    bool Settled(int ms = 20000) {
        return QTest::qWaitFor([this] { return !pane->CurrentRun() && pane->Workers() == 0; }, ms);
    }
    void Open(const QString& path) {
        tree->SelectPath(path);
        QApplication::processEvents();
    }
    void ExpectFactsOf(const QString& lasPath) {
        const velmora::HeaderFacts facts = velmora::ReadLasHeader(lasPath.toStdString());
        const listview::FactsText expected = listview::DescribeFacts(facts);
        ASSERT_FALSE(expected.rows.empty());
        for (const listview::FactRow& r : expected.rows) EXPECT_EQ(pane->Fact(r.label), r.value) << r.label;
        QStringList vlrs;
        for (const velmora::VlrInfo& v : facts.vlrs)
            vlrs << QString::fromStdString(v.userId) + QLatin1Char(' ') + QString::number(v.recordId);
        EXPECT_EQ(pane->VlrNames(), vlrs);
    }
    CDetailsPane* pane = nullptr;
};

// What the pane says of an entry and of a LAS file is what the original
// file's header, VLRs and EVLRs say.
TEST_F(DetailsPaneTest, TheFactsOfAFileAndOfItsEntryAreThoseOfTheFile) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString autzen = Las("autzen_trim.las", QStringLiteral("f/autzen.las"));
    const QString v14 = Las("beyond/v14_format6_evlr.las", QStringLiteral("f/v14.las"));
    const QString archive = Root() + QStringLiteral("f/both.vmra");
    AddDirect(autzen, archive);
    AddDirect(v14, archive);
    ShowPane();

    Open(Root() + QStringLiteral("f"));
    Click(QStringLiteral("autzen.las"));
    ASSERT_TRUE(Settled());
    EXPECT_EQ(pane->Title(), QStringLiteral("autzen.las"));
    ExpectFactsOf(autzen);
    // Figures known from elsewhere.
    EXPECT_EQ(pane->Fact(listmsg::kFactPoints), S("110.000"));
    EXPECT_EQ(pane->Fact(listmsg::kFactCrs), S("NAD_1983_HARN_Lambert_Conformal_Conic"));

    Open(archive);
    Click(QStringLiteral("autzen.las"));
    ASSERT_TRUE(Settled());
    ExpectFactsOf(autzen);
    EXPECT_EQ(pane->Fact(listmsg::kFactPoints), list->ItemText(Row(QStringLiteral("autzen.las")), listview::kColumnPoints));
    EXPECT_TRUE(pane->Message().isEmpty()) << pane->Message().toStdString();
    EXPECT_FALSE(pane->Picture().isNull());

    Click(QStringLiteral("v14.las"));
    ASSERT_TRUE(Settled());
    ExpectFactsOf(v14);
    EXPECT_FALSE(pane->Fact(listmsg::kFactEvlrs).isEmpty());
    EXPECT_EQ(pane->Fact(listmsg::kFactVersion), S("1.4"));
}

// Five points at the corners and the middle of a rectangle twice as wide
// as high: the picture keeps that shape, the points' pixels are coloured
// by their height, and the pixels between them stay empty.
TEST_F(DetailsPaneTest, ThePictureOfKnownPointsFromAFileAndFromItsEntry) {
    const QString las = Root() + QStringLiteral("g/five.las");
    QDir().mkpath(Root() + QStringLiteral("g"));
    ASSERT_TRUE(WritePoints(las, 0,
                            {{0, 0, 0}, {100000, 0, 1000}, {0, 50000, 2000}, {100000, 50000, 3000}, {50000, 25000, 1500}}));
    const QString archive = Root() + QStringLiteral("g/five.vmra");
    AddDirect(las, archive);
    ShowPane();
    for (const QString& where : {Root() + QStringLiteral("g"), archive}) {
        Open(where);
        Click(QStringLiteral("five.las"));
        ASSERT_TRUE(Settled());
        const QImage picture = pane->Picture().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(picture.width(), preview::kPictureSide) << where.toStdString();
        ASSERT_EQ(picture.height(), preview::kPictureSide / 2);
        const int w = picture.width() - 1, h = picture.height() - 1;
        // The lowest point bottom left, the highest top right.
        EXPECT_EQ(picture.pixel(0, h), Argb(preview::RampColour(0)));
        EXPECT_EQ(picture.pixel(w, 0), Argb(preview::RampColour(1)));
        EXPECT_EQ(picture.pixel(w, h), Argb(preview::RampColour(1.0 / 3)));
        EXPECT_EQ(picture.pixel(0, 0), Argb(preview::RampColour(2.0 / 3)));
        EXPECT_EQ(picture.pixel(w / 2, h / 2), Argb(preview::RampColour(0.5)));
        // Between them nothing.
        for (const QPoint p : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4), QPoint(w / 2, 0),
                               QPoint(0, h / 2), QPoint(w / 2 + 20, h / 2)})
            EXPECT_EQ(qAlpha(picture.pixel(p)), 0) << p.x() << "," << p.y();
        EXPECT_TRUE(pane->Message().isEmpty()) << pane->Message().toStdString();
    }
}

// Points with colours of their own show them: 16-bit values by their high
// byte, and values that are all 8-bit ones as they are.
TEST_F(DetailsPaneTest, PointsShowTheirOwnColours) {
    QDir().mkpath(Root() + QStringLiteral("c"));
    ASSERT_TRUE(WritePoints(Root() + QStringLiteral("c/wide.las"), 2,
                            {{0, 0, 0, 65535, 0, 0}, {10000, 10000, 0, 0, 65535, 0}, {0, 10000, 0, 0, 0, 32768}}));
    ASSERT_TRUE(WritePoints(Root() + QStringLiteral("c/narrow.las"), 3,
                            {{0, 0, 0, 200, 0, 0}, {10000, 10000, 0, 0, 100, 0}, {0, 10000, 0, 0, 0, 255}}));
    ShowPane();
    Open(Root() + QStringLiteral("c"));
    Click(QStringLiteral("wide.las"));
    ASSERT_TRUE(Settled());
    QImage picture = pane->Picture().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(picture.width(), picture.height());
    int e = picture.width() - 1;
    EXPECT_EQ(picture.pixel(0, e), 0xFFFF0000u);
    EXPECT_EQ(picture.pixel(e, 0), 0xFF00FF00u);
    EXPECT_EQ(picture.pixel(0, 0), 0xFF000080u);
    EXPECT_EQ(qAlpha(picture.pixel(e, e)), 0);

    Click(QStringLiteral("narrow.las"));
    ASSERT_TRUE(Settled());
    picture = pane->Picture().convertToFormat(QImage::Format_ARGB32);
    e = picture.width() - 1;
    EXPECT_EQ(picture.pixel(0, e), 0xFFC80000u);
    EXPECT_EQ(picture.pixel(e, 0), 0xFF006400u);
    EXPECT_EQ(picture.pixel(0, 0), 0xFF0000FFu);
}

// A damaged entry and a LAS file cut short say why, in the picture's
// place; the damaged entry's header is still told. The damage lies in the
// entry's second chunk: what the first drew goes again.
TEST_F(DetailsPaneTest, ADamagedEntryAndARefusedFileSayWhy) {
    const QString las = Root() + QStringLiteral("d/sound.las");
    QDir().mkpath(Root() + QStringLiteral("d"));
    ASSERT_TRUE(Generate(las, 2600000, 1));
    const QString archive = Root() + QStringLiteral("d/hurt.vmra");
    AddDirect(las, archive);
    ASSERT_TRUE(guitest::DamageEntry(archive, QStringLiteral("sound.las")));
    QFile::resize(las, 0);
    ASSERT_TRUE(Generate(Root() + QStringLiteral("d/cut.las"), 3000, 1));
    ASSERT_TRUE(guitest::CutShort(Root() + QStringLiteral("d/cut.las")));
    ShowPane();

    Open(archive);
    bool drawn = false;
    const QMetaObject::Connection watch =
        QObject::connect(pane, &CDetailsPane::Updated, pane, [&] { drawn |= !pane->Picture().isNull(); });
    Click(QStringLiteral("sound.las"));
    ASSERT_TRUE(Settled());
    QObject::disconnect(watch);
    EXPECT_TRUE(drawn);
    const QString damaged = S(listmsg::kPreviewDamaged);
    const QString said = damaged.left(damaged.indexOf(QStringLiteral("%1")));
    EXPECT_TRUE(pane->Message().startsWith(said)) << pane->Message().toStdString();
    EXPECT_GT(pane->Message().size(), damaged.size());  // with the finding's words
    EXPECT_TRUE(pane->Picture().isNull());
    EXPECT_EQ(pane->Fact(listmsg::kFactPoints), S("2.600.000"));

    Open(Root() + QStringLiteral("d"));
    Click(QStringLiteral("cut.las"));
    ASSERT_TRUE(Settled());
    const QString refused = S(listmsg::kFactsFailed).arg(QString());
    EXPECT_TRUE(pane->Message().startsWith(refused)) << pane->Message().toStdString();
    EXPECT_GT(pane->Message().size(), refused.size());
    EXPECT_TRUE(pane->Fact(listmsg::kFactPoints).isEmpty());
    EXPECT_TRUE(ui.shown.empty());
}

// Some writers leave the header's bounds at zero: the points themselves
// then frame the picture and spread the ramp.
TEST_F(DetailsPaneTest, BoundsLeftAtZeroAreTakenFromThePoints) {
    const QString las = Root() + QStringLiteral("z/five.las");
    QDir().mkpath(Root() + QStringLiteral("z"));
    ASSERT_TRUE(WritePoints(las, 0,
                            {{0, 0, 0}, {100000, 0, 1000}, {0, 50000, 2000}, {100000, 50000, 3000}, {50000, 25000, 1500}}));
    {
        QFile f(las);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(179));  // max x, min x, max y, min y, max z, min z
        ASSERT_EQ(f.write(QByteArray(48, 0)), 48);
    }
    ShowPane();
    Open(Root() + QStringLiteral("z"));
    Click(QStringLiteral("five.las"));
    ASSERT_TRUE(Settled());
    EXPECT_EQ(pane->Fact(listmsg::kFactX), S("0.00 to 0.00"));
    const QImage picture = pane->Picture().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(picture.width(), preview::kPictureSide);
    ASSERT_EQ(picture.height(), preview::kPictureSide / 2);
    const int w = picture.width() - 1, h = picture.height() - 1;
    EXPECT_EQ(picture.pixel(0, h), Argb(preview::RampColour(0)));
    EXPECT_EQ(picture.pixel(w, 0), Argb(preview::RampColour(1)));
    EXPECT_EQ(qAlpha(picture.pixel(w / 4, h / 4)), 0);
}

// Another selection cancels the reading of the one before, which lets go
// of its archive at once: the entry it read can be deleted by a program
// that does not wait, as soon as the pane has read the newly selected one.
TEST_F(DetailsPaneTest, ANewSelectionCancelsTheReadingAndLetsGoOfTheArchive) {
    QDir().mkpath(Root() + QStringLiteral("b"));
    const QString big = Root() + QStringLiteral("b/big.las");
    const QString small = Root() + QStringLiteral("b/small.las");
    // Two chunks: the second is still being decoded when the first is shown.
    ASSERT_TRUE(Generate(big, 2600000, 1));
    ASSERT_TRUE(Generate(small, 5000, 1));
    const QString archive = Root() + QStringLiteral("b/two.vmra");
    AddDirect(big, archive);
    AddDirect(small, archive);
    QFile::remove(big);
    ShowPane();
    Open(archive);

    // As soon as the first points are drawn, the user selects the other.
    std::shared_ptr<CPreviewRun> first;
    QElapsedTimer sinceSwitch;
    QMetaObject::Connection follow = QObject::connect(pane, &CDetailsPane::Updated, pane, [&] {
        if (!first || pane->CurrentRun() != first || pane->Picture().isNull()) return;
        sinceSwitch.start();
        Click(QStringLiteral("small.las"));
    });
    Click(QStringLiteral("big.las"));
    first = pane->CurrentRun();
    ASSERT_TRUE(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->CurrentState() != CPreviewRun::State::Running; }, 20000));
    QObject::disconnect(follow);
    ASSERT_TRUE(sinceSwitch.isValid()) << "the first points were never drawn";
    EXPECT_LT(sinceSwitch.elapsed(), 2000);
    const CPreviewRun::News end = first->Take();
    EXPECT_EQ(first->CurrentState(), CPreviewRun::State::Cancelled);
    EXPECT_GT(end.pointsRead, 0u);
    EXPECT_LT(end.pointsRead, 2600000u);

    ASSERT_TRUE(Settled());
    EXPECT_EQ(pane->Title(), QStringLiteral("small.las"));
    EXPECT_FALSE(pane->Picture().isNull());
    VMRAFile other;
    other.waitForLock = false;
    EXPECT_NO_THROW(other.DeleteEntry(archive.toStdString(), "big.las"));
    // The finished reading has let go of the archive too.
    EXPECT_NO_THROW(other.DeleteEntry(archive.toStdString(), "small.las"));
}

// The window's own deletion of the entry being read stops the reading
// first, instead of waiting for it to end.
TEST_F(DetailsPaneTest, DeletingTheEntryShownStopsItsReading) {
    QDir().mkpath(Root() + QStringLiteral("x"));
    const QString big = Root() + QStringLiteral("x/big.las");
    ASSERT_TRUE(Generate(big, 2600000, 1));
    const QString archive = Root() + QStringLiteral("x/one.vmra");
    AddDirect(big, archive);
    ShowPane();
    Open(archive);
    Click(QStringLiteral("big.las"));
    const std::shared_ptr<CPreviewRun> reading = pane->CurrentRun();
    ASSERT_TRUE(reading);
    ui.answers.push_back(platform::MsgResult::Ok);
    list->DeleteSelected();
    EXPECT_TRUE(reading->CancelRequested());
    EXPECT_EQ(list->ItemCount(), 1);
    EXPECT_LT(reading->Take().pointsRead, 2600000u);
    ASSERT_TRUE(Settled());
    EXPECT_EQ(reading->CurrentState(), CPreviewRun::State::Cancelled);
    EXPECT_EQ(pane->Message(), S(listmsg::kPaneHint));
    EXPECT_EQ(ui.Texts(), QStringList{"Delete selected file?\n\nbig.las"});
}

// An item seen before is shown again from the kept picture, until its
// archive changes.
TEST_F(DetailsPaneTest, PicturesSeenBeforeAreKeptUntilTheArchiveChanges) {
    QDir().mkpath(Root() + QStringLiteral("k"));
    for (const char* name : {"a.las", "b.las", "c.las"})
        ASSERT_TRUE(Generate(Root() + QStringLiteral("k/") + S(name), 4000, 1));
    const QString archive = Root() + QStringLiteral("k/k.vmra");
    AddDirect(Root() + QStringLiteral("k/a.las"), archive);
    AddDirect(Root() + QStringLiteral("k/b.las"), archive);
    ShowPane();
    Open(archive);
    Click(QStringLiteral("a.las"));
    ASSERT_TRUE(Settled());
    EXPECT_FALSE(pane->FromKept());
    const QImage first = pane->Picture();
    ASSERT_FALSE(first.isNull());
    Click(QStringLiteral("b.las"));
    ASSERT_TRUE(Settled());
    Click(QStringLiteral("a.las"));
    EXPECT_TRUE(pane->FromKept());
    EXPECT_FALSE(pane->CurrentRun());
    EXPECT_EQ(pane->Picture(), first);
    EXPECT_EQ(pane->Fact(listmsg::kFactPoints), S("4.000"));

    AddDirect(Root() + QStringLiteral("k/c.las"), archive);
    QTest::qWait(20);
    list->Refresh();
    Click(QStringLiteral("a.las"));
    EXPECT_FALSE(pane->FromKept());
    ASSERT_TRUE(Settled());
    EXPECT_EQ(pane->Picture(), first);
}

// Hidden, the pane reads nothing; shown, it takes up the selection. Whether
// it is shown is kept for the next start.
TEST_F(DetailsPaneTest, AHiddenPaneReadsNothingAndItsStateIsKept) {
    QDir().mkpath(Root() + QStringLiteral("h"));
    ASSERT_TRUE(Generate(Root() + QStringLiteral("h/one.las"), 1000, 1));
    EXPECT_FALSE(frame->Action(cmd::kDetailsPane)->isChecked());
    EXPECT_FALSE(pane->isVisible());
    Open(Root() + QStringLiteral("h"));
    Click(QStringLiteral("one.las"));
    EXPECT_EQ(pane->Workers(), 0);
    EXPECT_TRUE(pane->Title().isEmpty());

    frame->Action(cmd::kDetailsPane)->trigger();
    EXPECT_TRUE(pane->isVisible());
    ASSERT_TRUE(Settled());
    EXPECT_EQ(pane->Title(), QStringLiteral("one.las"));
    EXPECT_EQ(pane->Fact(listmsg::kFactPoints), S("1.000"));
    CloseFrame(frame);
    EXPECT_EQ(ReadSetting("DetailsPane"), QStringLiteral("1"));

    frame = StartFrame();
    EXPECT_TRUE(frame->Action(cmd::kDetailsPane)->isChecked());
    EXPECT_TRUE(frame->DetailsPane()->isVisibleTo(frame.get()));
    frame->Action(cmd::kDetailsPane)->trigger();
    EXPECT_FALSE(frame->DetailsPane()->isVisibleTo(frame.get()));
    CloseFrame(frame);
    EXPECT_EQ(ReadSetting("DetailsPane"), QStringLiteral("0"));
}
