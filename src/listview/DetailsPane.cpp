#include "listview/DetailsPane.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "listview/ListMessages.h"
#include "platform/Paths.h"

namespace {

QString Text(const char* message) { return QString::fromUtf8(message); }

// How often the window looks at what the worker has read: often enough
// for the picture to grow smoothly, seldom enough to cost nothing.
constexpr int kPollMs = 30;
// How long closing the pane waits for a worker to see its cancel.
constexpr int kFarewellMs = 2000;

// The picture's backdrop: dark, so both the ramp and real colours show.
const QColor kBackdrop(32, 36, 40);
const QColor kBackdropText(220, 220, 220);

QColor ColourOf(preview::Rgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace

CPreviewCanvas::CPreviewCanvas(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("previewCanvas"));
}

void CPreviewCanvas::SetPicture(const QImage& p, const preview::Frame& f) {
    picture = p;
    frame = f;
    update();
}

void CPreviewCanvas::SetLegend(bool own, double low, double high, double scale) {
    legend = true;
    ownColours = own;
    zMin = low;
    zMax = high;
    zScale = scale;
    update();
}

void CPreviewCanvas::SetMessage(const QString& text) {
    message = text;
    update();
}

void CPreviewCanvas::Clear() {
    picture = QImage();
    frame = {};
    legend = false;
    message.clear();
    scaleBar = 0;
    update();
}

QSize CPreviewCanvas::sizeHint() const { return QSize(260, 260); }
QSize CPreviewCanvas::minimumSizeHint() const { return QSize(120, 120); }

void CPreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    const int gap = fm.height() / 3;
    const int line = fm.height() + gap;
    // Below the picture: the scale bar, and the ramp or what the colours are.
    const int legendHeight = legend && !picture.isNull() ? 2 * line + gap : 0;
    const QRect area = rect().adjusted(0, 0, 0, -legendHeight);
    p.fillRect(area, kBackdrop);
    scaleBar = 0;
    pictureRect = QRect();
    if (!picture.isNull() && area.width() > 2 * gap && area.height() > 2 * gap) {
        const QRect room = area.adjusted(gap, gap, -gap, -gap);
        const QSize fitted = picture.size().scaled(room.size(), Qt::KeepAspectRatio);
        pictureRect = QRect(QPoint(room.x() + (room.width() - fitted.width()) / 2,
                                   room.y() + (room.height() - fitted.height()) / 2),
                            fitted);
        // Pixels stay square blocks when enlarged: a sample is a point, not a blur.
        p.drawImage(pictureRect, picture);
    }
    if (!message.isEmpty()) {
        p.setPen(kBackdropText);
        const QRect textRoom = area.adjusted(2 * gap, 2 * gap, -2 * gap, -2 * gap);
        p.drawText(textRoom, (picture.isNull() ? Qt::AlignCenter : Qt::AlignTop | Qt::AlignLeft) | Qt::TextWordWrap,
                   message);
    }
    if (legendHeight == 0 || pictureRect.isEmpty() || !frame.Valid()) return;

    p.setPen(palette().color(QPalette::WindowText));
    // The scale bar: a round length of at most two fifths of the picture.
    const double unitsPerScreenPixel = frame.unitsPerPixel * picture.width() / pictureRect.width();
    const double length = preview::ScaleBarLength(pictureRect.width() * 0.4 * unitsPerScreenPixel);
    int y = area.bottom() + gap + line / 2;
    int x = gap;
    if (length > 0) {
        scaleBar = length;
        const int pixels = std::max(1, static_cast<int>(std::lround(length / unitsPerScreenPixel)));
        p.drawLine(x, y, x + pixels, y);
        p.drawLine(x, y - gap, x, y + gap);
        p.drawLine(x + pixels, y - gap, x + pixels, y + gap);
        p.drawText(QPoint(x + pixels + gap, y + fm.ascent() / 2 - 1), listview::ScaleBarText(length, unit));
    }
    y += line;
    const int baseline = y + fm.ascent() / 2 - 1;
    if (ownColours) {
        p.drawText(QPoint(x, baseline), Text(listmsg::kOwnColours));
        return;
    }
    const QString caption = Text(listmsg::kRampCaption);
    const QString low = listview::FormatCoordinate(zMin, zScale);
    const QString high = listview::FormatCoordinate(zMax, zScale);
    p.drawText(QPoint(x, baseline), caption);
    x += fm.horizontalAdvance(caption) + gap;
    p.drawText(QPoint(x, baseline), low);
    x += fm.horizontalAdvance(low) + gap;
    const int rampWidth = std::max(20, width() - x - fm.horizontalAdvance(high) - 2 * gap);
    QLinearGradient ramp(x, 0, x + rampWidth, 0);
    for (int i = 0; i <= 8; ++i) ramp.setColorAt(i / 8.0, ColourOf(preview::RampColour(i / 8.0)));
    p.fillRect(QRect(x, y - fm.ascent() / 2, rampWidth, fm.ascent()), ramp);
    x += rampWidth + gap;
    p.drawText(QPoint(x, baseline), high);
}

CDetailsPane::CDetailsPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("detailsPane"));
    title = new QLabel(this);
    title->setTextFormat(Qt::PlainText);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);

    facts = new QTreeWidget(this);
    facts->setColumnCount(2);
    facts->setHeaderLabels({Text(listmsg::kFactLabel), Text(listmsg::kFactValue)});
    facts->setHeaderHidden(true);
    facts->setRootIsDecorated(true);
    facts->setUniformRowHeights(true);
    facts->setSelectionMode(QAbstractItemView::NoSelection);
    facts->setFocusPolicy(Qt::NoFocus);
    facts->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    canvas = new CPreviewCanvas(this);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    split->addWidget(facts);
    split->addWidget(canvas);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(title);
    layout->addWidget(split, 1);

    poll = new QTimer(this);
    poll->setInterval(kPollMs);
    connect(poll, &QTimer::timeout, this, &CDetailsPane::Poll);
    ShowNothing();
}

CDetailsPane::~CDetailsPane() {
    Retire();
    for (Stopping& s : stopping) {
        // The run holds its own state: a worker still waiting for an archive
        // another program holds can finish after the pane is gone.
        if (s.run->WaitEnded(kFarewellMs))
            s.thread.join();
        else
            s.thread.detach();
    }
}

void CDetailsPane::Reset(const QString& heading) {
    title->setText(heading);
    title->setToolTip(heading);
    facts->clear();
    factsText = {};
    canvas->Clear();
    shownFacts.reset();
    samples.clear();
    samples.shrink_to_fit();
    largestColour = 0;
    raster.Reset({}, preview::CRaster::Colouring::Elevation, 0, 0, 0, 1);
    fromKept = false;
}

void CDetailsPane::ShowNothing() {
    Retire();
    shownKey.clear();
    keepKey.clear();
    Reset(QString());
    canvas->SetMessage(Text(listmsg::kPaneHint));
    emit Updated();
}

void CDetailsPane::StopPreview() { ShowNothing(); }

void CDetailsPane::ShowItem(const QString& path, const QString& entry, qint64 index) {
    const QString key = listview::PreviewCacheKey(path, entry, index);
    // A file that is not there has no key to keep its picture by; it is
    // still told from others, to say why it cannot be read.
    const QString identity = key.isEmpty() ? path + QLatin1Char('\n') + entry + QLatin1Char('\n') + QString::number(index) : key;
    if (identity == shownKey) return;
    Retire();
    shownKey = identity;
    keepKey = key;
    Reset(entry.isEmpty() ? platform::FileNamePart(path)
                          : platform::FromCore(velmora::EscapeName(platform::ToCore(entry))));
    if (const Kept* k = key.isEmpty() ? nullptr : kept.Find(key)) {
        fromKept = true;
        ShowFacts(k->facts);
        canvas->SetLegend(k->colour, k->zMin, k->zMax, k->facts.scale[2]);
        canvas->SetPicture(k->picture, k->frame);
        if (k->facts.pointCount == 0) canvas->SetMessage(Text(listmsg::kPreviewNoPoints));
        emit Updated();
        return;
    }
    run = std::make_shared<preview::CPreviewRun>(
        preview::Target{platform::ToCore(path), platform::ToCore(entry), entry.isEmpty() ? -1 : index});
    worker = std::thread([r = run] { r->Run(); });
    poll->start();
}

void CDetailsPane::Retire() {
    if (!run) return;
    run->Cancel();
    stopping.push_back({std::move(run), std::move(worker)});
    run.reset();
    // Joined once it has seen the cancel, on a later look.
    poll->start();
}

void CDetailsPane::Reap() {
    for (auto it = stopping.begin(); it != stopping.end();) {
        if (it->run->CurrentState() == preview::CPreviewRun::State::Running) {
            ++it;
            continue;
        }
        it->thread.join();
        it = stopping.erase(it);
    }
}

int CDetailsPane::Workers() const { return (worker.joinable() ? 1 : 0) + static_cast<int>(stopping.size()); }

void CDetailsPane::Poll() {
    Reap();
    if (run) {
        preview::CPreviewRun::News news = run->Take();
        if (news.facts) Begin(*news.facts, news.colour);
        if (!news.samples.empty()) AddSamples(news.samples);
        if (news.state == preview::CPreviewRun::State::Running) {
            if (news.pointsTotal > 0)
                canvas->SetMessage(Text(listmsg::kPreviewReading)
                                       .arg(std::min<uint64_t>(100, news.pointsRead * 100 / news.pointsTotal)));
        } else {
            End(news);
        }
        emit Updated();
    }
    if (!run && stopping.empty()) poll->stop();
}

void CDetailsPane::ShowFacts(const velmora::HeaderFacts& f) {
    factsText = listview::DescribeFacts(f);
    facts->clear();
    for (const listview::FactRow& row : factsText.rows) {
        auto* item = new QTreeWidgetItem(facts, {Text(row.label), row.value});
        item->setToolTip(1, row.value);
        const bool vlrs = QString::fromUtf8(row.label) == Text(listmsg::kFactVlrs);
        const bool evlrs = QString::fromUtf8(row.label) == Text(listmsg::kFactEvlrs);
        if (!vlrs && !evlrs) continue;
        for (const listview::VlrRow& v : vlrs ? factsText.vlrs : factsText.evlrs) {
            auto* child = new QTreeWidgetItem(item, {v.name, v.about});
            child->setToolTip(1, v.about);
        }
    }
    facts->expandAll();
}

void CDetailsPane::Begin(const velmora::HeaderFacts& f, bool own) {
    shownFacts = f;
    colour = own;
    ShowFacts(f);
    // A header's bounds frame the picture from the start. Where they are
    // missing (all zero in some writers' files) or damaged, the samples
    // themselves set them as they come.
    const bool flat = f.minimum[0] == f.maximum[0] && f.minimum[1] == f.maximum[1] && f.pointCount > 1;
    boundsFromHeader = preview::UsableRange(f.minimum[0], f.maximum[0]) &&
                       preview::UsableRange(f.minimum[1], f.maximum[1]) && !flat;
    zFromHeader = preview::UsableRange(f.minimum[2], f.maximum[2]) && !flat;
    const double inf = std::numeric_limits<double>::infinity();
    for (int a = 0; a < 3; ++a) {
        const bool fromHeader = a < 2 ? boundsFromHeader : zFromHeader;
        bounds[a] = fromHeader ? f.minimum[a] : inf;
        bounds[a + 3] = fromHeader ? f.maximum[a] : -inf;
    }
    if (f.pointCount == 0) canvas->SetMessage(Text(listmsg::kPreviewNoPoints));
    Redraw();
}

void CDetailsPane::AddSamples(std::vector<preview::Sample>& batch) {
    if (!shownFacts) return;
    for (const preview::Sample& s : batch) {
        largestColour = std::max({largestColour, s.red, s.green, s.blue});
        const double v[3] = {s.x, s.y, s.z};
        for (int a = 0; a < 3; ++a) {
            if (a < 2 ? boundsFromHeader : zFromHeader) continue;
            if (!std::isfinite(v[a])) continue;
            bounds[a] = std::min(bounds[a], v[a]);
            bounds[a + 3] = std::max(bounds[a + 3], v[a]);
        }
    }
    samples.insert(samples.end(), batch.begin(), batch.end());
    const bool sameFrame = preview::FitFrame(bounds[0], bounds[1], bounds[3], bounds[4], preview::kPictureSide,
                                             preview::kPictureSide) == raster.Shape();
    const bool sameColours = !colour || preview::ColourShift(largestColour) == raster.Shift();
    const bool sameRamp = zFromHeader || (drawnZ[0] == bounds[2] && drawnZ[1] == bounds[5]);
    if (sameFrame && sameColours && sameRamp)
        raster.Draw(batch.data(), batch.size());
    else
        Redraw();
    ShowPicture();
}

void CDetailsPane::Redraw() {
    const preview::Frame frame =
        preview::FitFrame(bounds[0], bounds[1], bounds[3], bounds[4], preview::kPictureSide, preview::kPictureSide);
    const uint64_t expected = std::min<uint64_t>(shownFacts ? shownFacts->pointCount : 0, preview::kMaxSamples);
    drawnZ[0] = bounds[2];
    drawnZ[1] = bounds[5];
    raster.Reset(frame, colour ? preview::CRaster::Colouring::Rgb : preview::CRaster::Colouring::Elevation, bounds[2],
                 bounds[5], colour ? preview::ColourShift(largestColour) : 0,
                 preview::DotSize(frame.width, frame.height, expected));
    raster.Draw(samples.data(), samples.size());
    canvas->SetLegend(colour, bounds[2], bounds[5], shownFacts ? shownFacts->scale[2] : 1);
    canvas->SetUnit(shownFacts ? shownFacts->linearUnit : std::string());
}

void CDetailsPane::ShowPicture() {
    const preview::Frame& frame = raster.Shape();
    if (!frame.Valid()) return;
    // The raster's words are 0xAARRGGBB, as this format reads them.
    const QImage view(reinterpret_cast<const uchar*>(raster.Pixels().data()), frame.width, frame.height,
                      QImage::Format_ARGB32);
    canvas->SetPicture(view.copy(), frame);
}

void CDetailsPane::End(const preview::CPreviewRun::News& news) {
    // The run has ended: its thread only returns now.
    if (worker.joinable()) worker.join();
    run.reset();
    using State = preview::CPreviewRun::State;
    if (news.state == State::Done && shownFacts) {
        ShowPicture();
        canvas->SetMessage(shownFacts->pointCount == 0 ? Text(listmsg::kPreviewNoPoints) : QString());
        kept.Put(keepKey, {*shownFacts, colour, canvas->Picture(), raster.Shape(), drawnZ[0], drawnZ[1]});
        return;
    }
    if (news.state != State::Failed) return;
    // A picture half drawn from a damaged entry would mislead: only the
    // text stays. Damage is said as what the user can act on, with the
    // finding's own words after it.
    canvas->Clear();
    const QString why = platform::FromCore(news.error);
    if (news.damaged)
        canvas->SetMessage(Text(listmsg::kPreviewDamaged).arg(why));
    else
        canvas->SetMessage(shownFacts ? Text(listmsg::kPreviewFailed).arg(why) : Text(listmsg::kFactsFailed).arg(why));
}

QString CDetailsPane::Title() const { return title->text(); }
QString CDetailsPane::Fact(const char* label) const { return factsText.Value(label); }
QString CDetailsPane::Message() const { return canvas->Message(); }
const QImage& CDetailsPane::Picture() const { return canvas->Picture(); }

QStringList CDetailsPane::VlrNames() const {
    QStringList names;
    for (const listview::VlrRow& v : factsText.vlrs) names << v.name;
    for (const listview::VlrRow& v : factsText.evlrs) names << v.name;
    return names;
}
