#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "listview/DetailsLogic.h"
#include "listview/PointPreview.h"
#include "listview/PreviewRun.h"
#include "velmora/velmora.hpp"

class QLabel;
class QTimer;
class QTreeWidget;

// The picture of the points seen from above, fitted into the widget with
// its aspect kept, with a scale bar and, for colours by elevation, the ramp
// and its ends below it; or a text in its place.
class CPreviewCanvas : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewCanvas(QWidget* parent = nullptr);

    // frame: what one pixel of the picture stands for. ownColours: the
    // points show their own colours, else the elevation ramp from zMin to
    // zMax (written to the decimals of zScale).
    void SetPicture(const QImage& picture, const preview::Frame& frame);
    void SetLegend(bool ownColours, double zMin, double zMax, double zScale);
    // The unit of x and y, as the file's coordinate system names it.
    void SetUnit(const std::string& unitName) { unit = unitName; }
    void SetMessage(const QString& text);
    void Clear();

    const QImage& Picture() const { return picture; }
    const QString& Message() const { return message; }
    // Where the picture was drawn last, and the length its scale bar
    // stood for (0: none drawn).
    QRect PictureRect() const { return pictureRect; }
    double ScaleBarShown() const { return scaleBar; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture;
    preview::Frame frame;
    bool ownColours = false;
    bool legend = false;
    double zMin = 0, zMax = 0, zScale = 1;
    QString message;
    QRect pictureRect;
    double scaleBar = 0;
    std::string unit;
};

// The pane beside the file list: what the selected LAS file or archive
// entry says of itself (header, VLRs, EVLRs), and its points seen from
// above. The points are read on a worker thread a slice at a time and the
// picture grows as they come; another selection cancels that work, and
// pictures already made are kept for when an item is selected again.
class CDetailsPane : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kKeptPictures = 32;

    explicit CDetailsPane(QWidget* parent = nullptr);
    // Cancels the work and waits a moment for it; work that cannot end at
    // once (an archive another program holds) is left to end on its own.
    ~CDetailsPane() override;

    // Shows the LAS file at path, or the entry of the archive at path (at
    // index of its directory, -1 for the first of its name). The item
    // shown already is not read again.
    void ShowItem(const QString& path, const QString& entry = QString(), qint64 index = -1);
    // The hint that something is to be selected.
    void ShowNothing();
    // Cancels the running work (so the archive it reads is let go) and
    // shows the hint; the same item shown again is read afresh.
    void StopPreview();

    // What the pane shows now.
    QString Title() const;
    QString Fact(const char* label) const;
    // "user-ID record-ID" of each VLR, then of each EVLR.
    QStringList VlrNames() const;
    QString Message() const;
    const QImage& Picture() const;
    CPreviewCanvas* Canvas() const { return canvas; }
    // The run reading the shown item (null when none is running).
    std::shared_ptr<preview::CPreviewRun> CurrentRun() const { return run; }
    // Worker threads not yet ended and joined: the current one and those
    // cancelled and still on their way out.
    int Workers() const;
    // The shown picture came from the kept ones, not from reading.
    bool FromKept() const { return fromKept; }

signals:
    // Something new is shown: facts, more of the picture, the end.
    void Updated();

private:
    struct Kept {
        velmora::HeaderFacts facts;
        bool colour = false;
        QImage picture;
        preview::Frame frame;
        double zMin = 0, zMax = 0;
    };
    struct Stopping {
        std::shared_ptr<preview::CPreviewRun> run;
        std::thread thread;
    };

    void Reset(const QString& title);
    void Retire();
    void Reap();
    void Poll();
    void ShowFacts(const velmora::HeaderFacts& facts);
    void Begin(const velmora::HeaderFacts& facts, bool colour);
    void AddSamples(std::vector<preview::Sample>& batch);
    // Starts the picture afresh and draws every sample so far.
    void Redraw();
    void ShowPicture();
    void End(const preview::CPreviewRun::News& news);

    QLabel* title = nullptr;
    QTreeWidget* facts = nullptr;
    CPreviewCanvas* canvas = nullptr;
    QTimer* poll = nullptr;
    listview::FactsText factsText;

    QString shownKey;  // the item shown, however it is read
    QString keepKey;   // what its picture is kept by (empty: not kept)
    std::shared_ptr<preview::CPreviewRun> run;
    std::thread worker;
    std::vector<Stopping> stopping;
    listview::CBoundedCache<Kept> kept{kKeptPictures};
    bool fromKept = false;

    // The picture in the making.
    std::optional<velmora::HeaderFacts> shownFacts;
    bool colour = false;
    bool boundsFromHeader = false;
    bool zFromHeader = false;
    double bounds[6] = {0, 0, 0, 0, 0, 0};  // min x y z, max x y z drawn in
    double drawnZ[2] = {0, 0};              // the ramp's ends in the picture
    uint16_t largestColour = 0;
    std::vector<preview::Sample> samples;
    preview::CRaster raster;
};
