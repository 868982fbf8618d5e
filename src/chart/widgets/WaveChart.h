#pragma once
// A chart control: up to 256 sampled curves ("waves") over a common sample axis,
// four optional axis strips, text items inside the plot, tooltips naming the
// sample under the mouse, and listeners through which the owner paints extra
// layers and supplies tooltip texts.
//
// Painting is layered: the plot background (fill, owner layer, text items) is
// rendered into its own image only when backgroundDirty is set, axis strips only
// when they are dirty; each paint recomputes the waves' points and composes them
// over a copy of the background in the back buffer, then shows that buffer.
//
// Threads: everything runs on the UI thread except appends to a wave's buffer,
// RequestRepaint and MarkBackgroundDirty, which a worker may call. Buffers lock
// themselves and a paint holds a buffer's lock only while copying its window.

#include <QImage>
#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "chart/CCoordinate.h"
#include "chart/CWaveBuffer.h"
#include "chart/ChartRect.h"
#include "common/BaseLock.h"

class QPainter;

// A drawing target handed to the draw listener: a painter already active on the
// image, and the image's pixels (32 bits each, 0x00RRGGBB, row stride in bytes).
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
                           const std::vector<WavePoint>& points, int lineWidth, uint32_t color, int curveMode,
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
    static constexpr int MAX_WAVES = 256;

    struct WaveInfo {
        int32_t visible = 1;
        uint32_t color = 0;  // 0x00BBGGRR
        CWaveBuffer buffer;
        std::vector<WavePoint> points;  // recomputed on every paint
        int32_t tooltipEnabled = 1;
    };

    struct AxisStrip {
        int32_t visible = 0;
        int32_t size = 0;     // width (left, right) or height (top, bottom)
        ChartRect margins;    // insets taken off the strip's left, top, right and bottom edges
        ChartRect area;       // after Layout, client coordinates
        int32_t dirty = 0;    // labels must be drawn again
        CCoordinate axis;
    };

    struct WaveText {
        int32_t index = 0;
        QString text;
        ChartRect rect;  // client coordinates; empty = the whole plot
        int32_t align = 0;
        int32_t lineAlign = 0;
        uint32_t color = 0xff000000;  // ARGB
        double pointSize = 0;         // < 1: nothing is drawn
    };

    explicit WaveChart(QWidget* parent = nullptr);
    ~WaveChart() override;

    // Reads the client size, builds the buffers and turns tooltips on.
    void Initialize();
    void SetDoubleSamples();
    void SetValueRange(double min, double max);
    void SetSampleCount(int n);
    void SetWholeBlocksOnly(int flag);
    void SetXRange(double min, double max, double period);
    void SetXAxisFont(int pointSize);
    void SetYAxisFont(int pointSize, int decimals);
    void ClearData();
    // Creates or updates the text item of that index. A negative fontSize fits the
    // text into its rectangle with -fontSize as the largest size.
    void SetText(int index, const QString& text, int fontSize, uint32_t argb, int align, int lineAlign,
                 const ChartRect* rect = nullptr);
    void RecreateBuffers();
    void Layout();

    void SetDrawListener(IWaveChartDrawListener* listener, uint64_t context);
    void SetTooltipListener(IWaveChartTooltipListener* listener, uint64_t context);

    // Thread-safe repaint request: at most one is queued at a time.
    void RequestRepaint();
    [[nodiscard]] bool IsRepaintPending() const { return repaintQueued_.load(); }
    // Thread-safe: the background layer is rendered again at the next paint.
    void MarkBackgroundDirty() { backgroundDirty.store(1); }

    // Paints the chart onto target at (0, 0); the paint handler calls it.
    void Paint(QPainter& target);

    [[nodiscard]] const QImage& BackBuffer() const { return backBuffer_; }
    [[nodiscard]] const QImage& PlotBuffer() const { return plotBuffer_; }
    [[nodiscard]] QString TooltipText() const { return tooltipText_; }
    [[nodiscard]] bool IsTooltipActive() const { return tipActive_; }
    // The text items in drawing order (copies, taken under the text lock).
    [[nodiscard]] std::vector<WaveText> Texts();

    // Configuration the owner writes directly before calling the operations above.
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    int32_t plotBackgroundEnabled = 1;
    uint32_t plotBackgroundColor = 0;  // red in the low byte, alpha in the high byte
    int32_t lineWidth = 3;
    int32_t waveCount = 1;
    std::array<WaveInfo, MAX_WAVES> waves;
    uint32_t frameColor = 0xF0F0F0;  // 0x00RRGGBB, the system's button face
    ChartRect plotRect;
    std::atomic<int32_t> backgroundDirty{0};
    int32_t sampleCount = 64;
    int32_t autoScale = 0;
    double viewMin = -32767.0;
    double viewMax = 32767.0;
    AxisStrip left, right, top, bottom;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void RenderBackground();
    void ComposeWaves(QPainter& painter);
    void DrawCurve(QPainter& painter, const WaveInfo& wave);
    void DrawStrip(QPainter& painter, AxisStrip& strip);
    void UpdateTooltip();
    [[nodiscard]] bool AnyTooltipWave() const;
    [[nodiscard]] WaveWndSurface Surface(QPainter& painter, QImage& image) const;

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
};

// Qt alignment flags of an axis label's format.
[[nodiscard]] int AxisLabelQtFlags(int32_t format);
