#pragma once
// A chart control: up to 256 sampled curves ("waves") over a common sample axis,
// four optional axis strips, text items inside the plot, tooltips naming the
// sample under the mouse, and listeners through which the owner paints extra
// layers and supplies tooltip texts.
//
// Painting is layered: the plot background (fill, owner layer, text items) is
// rendered into its own image only when it is marked dirty, axis strips only
// when they are dirty; each paint recomputes the waves' points and composes them
// over a copy of the background in the back buffer, then shows that buffer.
//
// Threads: everything runs on the UI thread except appends to a wave's buffer
// (WaveBuffer), RequestRepaint and MarkBackgroundDirty, which a worker may call.
// Buffers lock themselves and a paint holds a buffer's lock only while copying its
// window.

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QPointF>
#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "chart/CCoordinate.h"
#include "chart/CWaveBuffer.h"
#include "chart/ChartRect.h"
#include "chart/widgets/FrameClock.h"
#include "common/BaseLock.h"

class QPainter;

// A drawing target handed to the draw listener: a painter already active on the
// image, and the image's pixels (QImage::Format_RGB32, row stride in bytes).
struct WaveWndSurface {
    QPainter* painter = nullptr;
    QImage* image = nullptr;
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

class IWaveChartDrawListener {
public:
    virtual ~IWaveChartDrawListener() = default;
    // On the plot background layer, rect = {0, 0, width, height}; only when it is rendered again.
    virtual void OnDrawBackground(const WaveWndSurface& plot, const ChartRect& rect, uint64_t context) {
        (void)plot, (void)rect, (void)context;
    }
    // Non-zero when the listener drew the wave itself (the built-in drawing is skipped).
    virtual int OnDrawWave(const WaveWndSurface& back, const ChartRect& plotRect, int waveIndex,
                           const std::vector<WavePoint>& points, int lineWidth, const QColor& color, int curveMode,
                           uint64_t context) {
        (void)back, (void)plotRect, (void)waveIndex, (void)points, (void)lineWidth, (void)color, (void)curveMode,
            (void)context;
        return 0;
    }
    // After all waves, on the composed back buffer.
    virtual void OnDrawEnd(const WaveWndSurface& back, const ChartRect& plotRect, uint64_t context) {
        (void)back, (void)plotRect, (void)context;
    }
};

class IWaveChartTooltipListener {
public:
    virtual ~IWaveChartTooltipListener() = default;
    virtual QString GetTooltipText(int waveIndex, int sampleIndex, int scrollOffset, int sampleCount, double value,
                                   uint64_t context) = 0;
};

class WaveChart : public QWidget {
    Q_OBJECT

public:
    // Shortest time between two repaints for new samples: 25 frames a second. When a
    // paint takes long (a large window, a dense curve, a slow machine), the frames
    // come further apart, FRAME_PAINT_SHARE times the last paint's time, so that
    // repainting for new samples keeps to about half a percent of a processor per
    // chart; but never further than FRAME_INTERVAL_MAX_MS.
    // Samples that come at least SLOW_SAMPLES_MS after the last repaint (a sensor
    // reports 8 times a second at most) are each painted at once, whatever a
    // paint costs: the longer frames are for sources faster than anyone follows.
    static constexpr int FRAME_INTERVAL_MS = FrameClock::FRAME_INTERVAL_MS;
    static constexpr int FRAME_PAINT_SHARE = 200;
    static constexpr int FRAME_INTERVAL_MAX_MS = 200;
    static constexpr int SLOW_SAMPLES_MS = 100;

    static constexpr int MAX_WAVES = 256;

    // The four axis strips around the plot.
    enum StripSide : int { STRIP_LEFT = 0, STRIP_RIGHT = 1, STRIP_TOP = 2, STRIP_BOTTOM = 3 };

    struct AxisStrip {
        bool visible = false;
        int32_t size = 0;    // width (left, right) or height (top, bottom); 0 while hidden
        ChartRect margins;   // insets taken off the strip's left, top, right and bottom edges
        ChartRect area;      // after layout, client coordinates
        bool dirty = false;  // labels are drawn again at the next paint
        CCoordinate axis;
    };

    struct WaveText {
        int32_t index = 0;
        QString text;
        ChartRect rect;  // client coordinates; empty = the whole plot
        int32_t align = 0;
        int32_t lineAlign = 0;
        QColor color = Qt::black;
        double pointSize = 0;  // < 1: nothing is drawn
    };

    explicit WaveChart(QWidget* parent = nullptr);
    ~WaveChart() override;

    // ---- set-up (UI thread) ----
    // The setters may come before or after Initialize and take effect at the next
    // paint; where their order matters, the setter says so.

    // Reads the client size, builds the buffers and turns tooltips on.
    void Initialize();

    // Waves 0 .. n - 1 are drawn (n is held to 0 .. MAX_WAVES); 1 at first.
    void SetWaveCount(int n);
    // A wave's colour, whether it is drawn and whether it names its samples in
    // tooltips. At first every wave is drawn, has tooltips and a colour of its own.
    // An index outside 0 .. MAX_WAVES - 1 is ignored.
    void SetWaveColor(int index, const QColor& color);
    void SetWaveVisible(int index, bool visible);
    void SetWaveTooltipEnabled(int index, bool enabled);
    // The pen width of every wave in pixels; 3 at first.
    void SetLineWidth(int pixels);
    // The plot's fill, opaque (alpha is ignored); black at first. An invalid colour
    // leaves the background layer unfilled, for a draw listener that paints all of it.
    void SetPlotBackground(const QColor& color);
    // The strips and the corners between them, opaque; the button face F0F0F0 at first.
    void SetFrameColor(const QColor& color);
    // When on, every paint fits the value view to the waves (1.5 spans around 0).
    void SetAutoScale(bool on);

    // Shows the strip at that width (left, right) or height (top, bottom), inset by
    // margins, and lays the chart out again. Every strip is hidden at first.
    void ShowStrip(StripSide side, int size, const ChartRect& margins = {});
    void HideStrip(StripSide side);
    // The number of labels along the horizontal (top and bottom) or vertical (left and right) axes.
    void SetXLabelCount(int n);
    void SetYLabelCount(int n);
    // The horizontal axes show these texts, evenly spaced, in place of numbers (the
    // label count becomes their number); an empty list brings the numbers back.
    void SetXLabels(const std::vector<std::string>& texts);

    void SetDoubleSamples();
    void SetValueRange(double min, double max);
    // Samples per wave window. The first call also sets the horizontal axes to
    // 0 .. n - 1, unless SetXRange came first.
    void SetSampleCount(int n);
    void SetWholeBlocksOnly(int flag);
    void SetXRange(double min, double max, double period);
    void SetXAxisFont(int pointSize);
    void SetYAxisFont(int pointSize, int decimals);
    void ClearData();
    // Creates or updates the text item of that index. A negative fontSize fits the
    // text into its rectangle with -fontSize as the largest size.
    void SetText(int index, const QString& text, int fontSize, const QColor& color, int align, int lineAlign,
                 const ChartRect* rect = nullptr);

    void SetDrawListener(IWaveChartDrawListener* listener, uint64_t context);
    void SetTooltipListener(IWaveChartTooltipListener* listener, uint64_t context);
    // Every layer (background and strips) is rendered again at the next paint.
    void MarkLayersDirty();

    // ---- any thread ----

    // The samples of a wave (index 0 .. MAX_WAVES - 1). A worker may append to it
    // (the buffer locks itself) and then call RequestRepaint.
    [[nodiscard]] CWaveBuffer& WaveBuffer(int index);
    // Repaint request: at most one is queued at a time, and repaints that new
    // samples ask for come at most one per frame interval (FRAME_INTERVAL_MS): a
    // sensor reporting 140 times a second would otherwise have the chart painted 140
    // times a second, far more often than anyone can see it move.
    void RequestRepaint();
    [[nodiscard]] bool IsRepaintPending() const { return repaintQueued_.load(); }
    // The background layer is rendered again at the next paint.
    void MarkBackgroundDirty() { backgroundDirty_.store(true); }

    // ---- painting and reading back (UI thread) ----

    // Paints the chart onto target at (0, 0); the paint handler calls it.
    void Paint(QPainter& target);

    [[nodiscard]] const ChartRect& PlotRect() const { return plotRect_; }
    [[nodiscard]] const AxisStrip& Strip(StripSide side) const { return strips_[side]; }
    // The value view, as set or as the automatic fit left it.
    [[nodiscard]] double ViewMin() const { return viewMin_; }
    [[nodiscard]] double ViewMax() const { return viewMax_; }
    [[nodiscard]] int SampleCount() const { return sampleCount_; }
    // The wave's points of the last paint, in client coordinates.
    [[nodiscard]] const std::vector<WavePoint>& WavePoints(int index) const;
    [[nodiscard]] const QImage& BackBuffer() const { return backBuffer_; }
    [[nodiscard]] const QImage& PlotBuffer() const { return plotBuffer_; }
    [[nodiscard]] QString TooltipText() const { return tooltipText_; }
    [[nodiscard]] bool IsTooltipActive() const { return tipActive_; }
    // The text items in drawing order (copies, taken under the text lock).
    [[nodiscard]] std::vector<WaveText> Texts();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct WaveInfo {
        bool visible = true;
        QColor color;
        CWaveBuffer buffer;
        std::vector<WavePoint> points;  // recomputed on every paint
        bool tooltipEnabled = true;
    };

    // Builds the back buffer at the client size and lays the chart out.
    void RecreateBuffers();
    // Places the strips and the plot, and builds the plot's background layer.
    void Layout();
    void RenderBackground();
    void ComposeWaves(QPainter& painter);
    void DrawCurve(QPainter& painter, const WaveInfo& wave);
    void DrawStrip(QPainter& painter, AxisStrip& strip);
    void MarkStripsDirty();
    void UpdateTooltip();
    [[nodiscard]] bool AnyTooltipWave() const;
    [[nodiscard]] WaveWndSurface Surface(QPainter& painter, QImage& image) const;
    [[nodiscard]] WaveInfo* Wave(int index);

    int32_t clientWidth_ = 0;
    int32_t clientHeight_ = 0;
    QColor plotBackground_ = Qt::black;
    QColor frameColor_{0xF0, 0xF0, 0xF0};
    int32_t lineWidth_ = 3;
    int32_t waveCount_ = 1;
    std::array<WaveInfo, MAX_WAVES> waves_;
    std::array<AxisStrip, 4> strips_;  // by StripSide
    ChartRect plotRect_;
    std::atomic<bool> backgroundDirty_{false};
    int32_t sampleCount_ = 64;
    bool autoScale_ = false;
    double viewMin_ = -32767.0;
    double viewMax_ = 32767.0;

    // The convex pieces of the last wide curve drawn (corners, and how many each has),
    // kept to save allocating them on every paint.
    std::vector<QPointF> pieceCorners_;
    std::vector<int> pieceSizes_;
    QImage backBuffer_;  // client-sized
    QImage plotBuffer_;  // plot-sized background layer
    CBaseLock textLock_;  //!< Guards texts_.
    std::vector<WaveText> texts_;  // sorted by index
    IWaveChartDrawListener* drawListener_ = nullptr;
    uint64_t drawContext_ = 0;
    IWaveChartTooltipListener* tooltipListener_ = nullptr;
    uint64_t tooltipContext_ = 0;
    bool xRangeExplicit_ = false;
    bool sampleCountSet_ = false;
    bool tooltipsEnabled_ = false;
    bool tipActive_ = false;
    QPoint lastMouse_{-1, -1};
    QString tooltipText_;
    std::atomic<bool> repaintQueued_{false};
    qint64 lastSampleRepaintMs_ = -1;  // FrameClock time of the last sample repaint; -1 before the first
    qint64 lastPaintNs_ = 0;          // how long the last paint took
};

// Qt alignment flags of an axis label's format.
[[nodiscard]] int AxisLabelQtFlags(int32_t format);
