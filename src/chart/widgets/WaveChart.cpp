#include "chart/widgets/WaveChart.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QToolTip>

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "chart/WaveView.h"
#include "chart/widgets/FrameClock.h"
#include "controls/imagelib/GdiplusObjects.h"

namespace {

// Default wave colours (0xRRGGBB), five rows of ten; wave i takes [i mod 5][(i / 5) mod 10].
constexpr QRgb WAVE_COLOR_TABLE[5][10] = {
    {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFF8000, 0x00FF80, 0x8000FF, 0xFF0080},
    {0xC04040, 0x40C040, 0x4040C0, 0xC0C040, 0xC040C0, 0x40C0C0, 0xC08040, 0x40C080, 0x8040C0, 0xC04080},
    {0xFF8080, 0x80FF80, 0x8080FF, 0xFFFF80, 0xFF80FF, 0x80FFFF, 0xFFC080, 0x80FFC0, 0xC080FF, 0xFF80C0},
    {0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0x804000, 0x008040, 0x400080, 0x800040},
    {0xFF2020, 0x20A020, 0x2020A0, 0xA0A020, 0xA020A0, 0x20A0A0, 0xFF6020, 0x20FF60, 0x6020FF, 0xFF2060},
};

constexpr const char* AXIS_FACE = "黑体";
constexpr ArgbColor AXIS_TEXT_COLOR = 0xFFFFFFFF;

QRect ToQRect(const ChartRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

ChartRect Inset(const ChartRect& r, const ChartRect& margins) {
    return {r.left + margins.left, r.top + margins.top, r.right - margins.right, r.bottom - margins.bottom};
}

// The first rectangle limited to the bounding one.
ChartRect BoundRect(const ChartRect& r, const ChartRect& bound) {
    ChartRect out{std::max(r.left, bound.left), std::max(r.top, bound.top), std::min(r.right, bound.right),
                  std::min(r.bottom, bound.bottom)};
    if (out.right < out.left) out.right = out.left;
    if (out.bottom < out.top) out.bottom = out.top;
    return out;
}

void SetupAxis(CCoordinate& axis, int orientation, int labelAlign, int count, double min, double max) {
    axis.orientation = orientation;
    axis.labelAlign = labelAlign;
    axis.labelCount = count;
    axis.minValue = min;
    axis.maxValue = max;
}

QFont AxisFont(const CCoordinate& axis) {
    QFont font(GpResolveFontFamily(QString::fromStdString(axis.fontFace)));
    font.setPointSize(std::max(1, axis.fontPointSize));
    return font;
}

}  // namespace

int AxisLabelQtFlags(int32_t format) {
    int flags = Qt::TextSingleLine;
    if (format & AXIS_TEXT_CENTER)
        flags |= Qt::AlignHCenter;
    else if (format & AXIS_TEXT_RIGHT)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (format & AXIS_TEXT_VCENTER)
        flags |= Qt::AlignVCenter;
    else if (format & AXIS_TEXT_BOTTOM)
        flags |= Qt::AlignBottom;
    else
        flags |= Qt::AlignTop;
    return flags;
}

WaveChart::WaveChart(QWidget* parent) : QWidget(parent) {
    // Every pixel comes from the back buffer, so nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    for (int i = 0; i < MAX_WAVES; ++i) waves_[i].color = QColor::fromRgb(WAVE_COLOR_TABLE[i % 5][(i / 5) % 10]);
    SetupAxis(strips_[STRIP_LEFT].axis, 1, 2, 5, -32767, 32767);
    SetupAxis(strips_[STRIP_RIGHT].axis, 1, 0, 5, -32767, 32767);
    for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
        CCoordinate& axis = strips_[side].axis;
        SetupAxis(axis, 0, side == STRIP_TOP ? 2 : 0, 22, 0, 63);
        axis.wrapMin = 0;
        axis.wrapMax = 63;
        axis.period = 63;
    }
}

WaveChart::~WaveChart() {
    CAutoBaseLock guard(textLock_);
    texts_.clear();
}

// ---- configuration ----

void WaveChart::Initialize() {
    clientWidth_ = width();
    clientHeight_ = height();
    RecreateBuffers();
    setMouseTracking(true);
    tooltipsEnabled_ = true;
    update();
}

WaveChart::WaveInfo* WaveChart::Wave(int index) {
    return index >= 0 && index < MAX_WAVES ? &waves_[static_cast<size_t>(index)] : nullptr;
}

void WaveChart::SetWaveCount(int n) {
    waveCount_ = std::clamp(n, 0, MAX_WAVES);
    update();
}

void WaveChart::SetWaveColor(int index, const QColor& color) {
    if (WaveInfo* wave = Wave(index)) wave->color = color;
    update();
}

void WaveChart::SetWaveVisible(int index, bool visible) {
    if (WaveInfo* wave = Wave(index)) wave->visible = visible;
    update();
}

void WaveChart::SetWaveTooltipEnabled(int index, bool enabled) {
    if (WaveInfo* wave = Wave(index)) wave->tooltipEnabled = enabled;
}

void WaveChart::SetLineWidth(int pixels) {
    lineWidth_ = pixels;
    update();
}

void WaveChart::SetPlotBackground(const QColor& color) {
    plotBackground_ = color;
    backgroundDirty_.store(true);
    update();
}

void WaveChart::SetFrameColor(const QColor& color) {
    frameColor_ = color;
    frameColor_.setAlpha(255);
    // The corners between the strips are painted only here and when the buffers are made.
    if (!backBuffer_.isNull()) backBuffer_.fill(frameColor_.rgb());
    MarkStripsDirty();
    update();
}

void WaveChart::SetAutoScale(bool on) {
    autoScale_ = on;
    update();
}

void WaveChart::ShowStrip(StripSide side, int size, const ChartRect& margins) {
    AxisStrip& strip = strips_[side];
    strip.visible = true;
    strip.size = size;
    strip.margins = margins;
    Layout();
}

void WaveChart::HideStrip(StripSide side) {
    strips_[side].visible = false;
    Layout();
}

void WaveChart::SetXLabelCount(int n) {
    for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
        strips_[side].axis.labelCount = n;
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetYLabelCount(int n) {
    for (StripSide side : {STRIP_LEFT, STRIP_RIGHT}) {
        strips_[side].axis.labelCount = n;
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetXLabels(const std::vector<std::string>& texts) {
    for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
        CCoordinate& axis = strips_[side].axis;
        axis.ClearLabels();
        for (size_t i = 0; i < texts.size(); ++i) axis.AddLabel(static_cast<int32_t>(i), texts[i]);
        if (!texts.empty()) axis.labelCount = static_cast<int32_t>(texts.size());
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetDoubleSamples() {
    for (WaveInfo& wave : waves_) wave.buffer.SetSampleType(WAVE_SAMPLE_DOUBLE);
    update();
}

void WaveChart::SetValueRange(double min, double max) {
    viewMin_ = min;
    viewMax_ = max;
    for (StripSide side : {STRIP_LEFT, STRIP_RIGHT}) {
        strips_[side].axis.minValue = min;
        strips_[side].axis.maxValue = max;
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetSampleCount(int n) {
    sampleCount_ = std::max(n, 1);
    for (WaveInfo& wave : waves_) {
        wave.buffer.SetBlockLength(sampleCount_);
        wave.buffer.SetBlockCount(1);
    }
    if (!sampleCountSet_ && !xRangeExplicit_) {
        const double last = n > 0 ? n - 1 : 0;
        for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
            CCoordinate& axis = strips_[side].axis;
            axis.minValue = 0;
            axis.maxValue = last;
            axis.wrapMin = 0;
            axis.wrapMax = last;
            axis.period = sampleCount_;
            strips_[side].dirty = true;
        }
    }
    sampleCountSet_ = true;
    update();
}

void WaveChart::SetWholeBlocksOnly(int flag) {
    for (WaveInfo& wave : waves_) wave.buffer.SetWholeBlocksOnly(flag);
}

void WaveChart::SetXRange(double min, double max, double period) {
    xRangeExplicit_ = true;
    for (WaveInfo& wave : waves_) wave.buffer.SetBlockCount(1);
    for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
        CCoordinate& axis = strips_[side].axis;
        axis.minValue = min;
        axis.maxValue = max;
        axis.wrapMin = min;
        axis.wrapMax = max;
        axis.period = period;
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetXAxisFont(int pointSize) {
    for (StripSide side : {STRIP_TOP, STRIP_BOTTOM}) {
        strips_[side].axis.SetStyle(pointSize, AXIS_TEXT_COLOR, 0);
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::SetYAxisFont(int pointSize, int decimals) {
    for (StripSide side : {STRIP_LEFT, STRIP_RIGHT}) {
        strips_[side].axis.SetStyle(pointSize, AXIS_TEXT_COLOR, decimals);
        strips_[side].dirty = true;
    }
    update();
}

void WaveChart::ClearData() {
    for (WaveInfo& wave : waves_) wave.buffer.Clear();
    update();
}

CWaveBuffer& WaveChart::WaveBuffer(int index) {
    assert(index >= 0 && index < MAX_WAVES);
    return waves_[static_cast<size_t>(index)].buffer;
}

const std::vector<WavePoint>& WaveChart::WavePoints(int index) const {
    assert(index >= 0 && index < MAX_WAVES);
    return waves_[static_cast<size_t>(index)].points;
}

void WaveChart::MarkLayersDirty() {
    backgroundDirty_.store(true);
    MarkStripsDirty();
    update();
}

void WaveChart::MarkStripsDirty() {
    for (AxisStrip& strip : strips_) strip.dirty = true;
}

void WaveChart::SetText(int index, const QString& text, int fontSize, const QColor& color, int align, int lineAlign,
                        const ChartRect* rect) {
    {
        CAutoBaseLock guard(textLock_);
        auto it = std::find_if(texts_.begin(), texts_.end(), [index](const WaveText& t) { return t.index == index; });
        if (it == texts_.end()) {
            texts_.push_back(WaveText{});
            it = texts_.end() - 1;
            it->index = index;
        }
        it->text = text;
        it->rect = rect ? *rect : ChartRect{};
        it->align = align;
        it->lineAlign = lineAlign;
        it->color = color;
        if (fontSize >= 0) {
            it->pointSize = fontSize;
        } else {
            // The largest size up to -fontSize at which the text fits its rectangle.
            const ChartRect room = it->rect.IsEmpty() ? plotRect_ : it->rect;
            QImage probe(1, 1, QImage::Format_RGB32);
            QPainter painter(&probe);
            GpGraphics graphics(&painter);
            GpStringFormat format;
            format.align = align;
            format.lineAlign = lineAlign;
            const GpSizeF maxSize{static_cast<float>(std::max(0, room.Width())),
                                  static_cast<float>(std::max(0, room.Height()))};
            const std::wstring wide = text.toStdWString();
            const std::wstring face = QString::fromUtf8(AXIS_FACE).toStdWString();
            it->pointSize = Gdiplus_CalcFontSize(&graphics, wide.c_str(), &maxSize, face.c_str(), -fontSize, 0, &format);
        }
        std::stable_sort(texts_.begin(), texts_.end(),
                         [](const WaveText& a, const WaveText& b) { return a.index < b.index; });
    }
    backgroundDirty_.store(true);
    update();
}

std::vector<WaveChart::WaveText> WaveChart::Texts() {
    CAutoBaseLock guard(textLock_);
    return texts_;
}

void WaveChart::SetDrawListener(IWaveChartDrawListener* listener, uint64_t context) {
    drawListener_ = listener;
    drawContext_ = context;
    backgroundDirty_.store(true);
    update();
}

void WaveChart::SetTooltipListener(IWaveChartTooltipListener* listener, uint64_t context) {
    tooltipListener_ = listener;
    tooltipContext_ = context;
}

// ---- buffers and layout ----

void WaveChart::RecreateBuffers() {
    backBuffer_ = QImage();
    plotBuffer_ = QImage();
    if (clientWidth_ <= 0 || clientHeight_ <= 0) return;
    backBuffer_ = QImage(clientWidth_, clientHeight_, QImage::Format_RGB32);
    backBuffer_.fill(frameColor_.rgb());
    Layout();
    backgroundDirty_.store(true);
    MarkStripsDirty();
    update();
}

void WaveChart::Layout() {
    for (AxisStrip& strip : strips_) {
        if (!strip.visible) {
            strip.size = 0;
            strip.area = ChartRect{};
        }
    }
    const int w = clientWidth_;
    const int h = clientHeight_;
    const int lw = strips_[STRIP_LEFT].size, rw = strips_[STRIP_RIGHT].size;
    const int th = strips_[STRIP_TOP].size, bh = strips_[STRIP_BOTTOM].size;
    ChartRect areas[4];
    areas[STRIP_LEFT] = {0, th, lw, h - bh};
    areas[STRIP_RIGHT] = {w - rw, th, w, h - bh};
    areas[STRIP_TOP] = {lw, 0, w - rw, th};
    areas[STRIP_BOTTOM] = {lw, h - bh, w - rw, h};
    for (int i = 0; i < 4; ++i) {
        AxisStrip& strip = strips_[static_cast<size_t>(i)];
        if (strip.visible) strip.area = Inset(areas[i], strip.margins);
        // A hidden strip's axis gets the empty area too, so that no labels are laid out for it.
        strip.axis.area = strip.area;
    }
    plotRect_ = {lw, th, w - rw, h - bh};
    // Every strip moves or grows with the plot: their labels are laid out again.
    MarkStripsDirty();

    plotBuffer_ = QImage();
    if (plotRect_.Width() > 0 && plotRect_.Height() > 0) {
        plotBuffer_ = QImage(plotRect_.Width(), plotRect_.Height(), QImage::Format_RGB32);
        plotBuffer_.fill(0xFF000000u);
        backgroundDirty_.store(true);
    }
    update();
}

// ---- painting ----

WaveWndSurface WaveChart::Surface(QPainter& painter, QImage& image) const {
    WaveWndSurface s;
    s.painter = &painter;
    s.image = &image;
    s.pixels = reinterpret_cast<uint32_t*>(image.bits());
    s.width = image.width();
    s.height = image.height();
    s.stride = static_cast<int>(image.bytesPerLine());
    return s;
}

void WaveChart::RenderBackground() {
    if (plotBuffer_.isNull()) return;
    if (plotBackground_.isValid()) plotBuffer_.fill(plotBackground_.rgb());
    QPainter painter(&plotBuffer_);
    const ChartRect rect{0, 0, plotBuffer_.width(), plotBuffer_.height()};
    if (drawListener_) drawListener_->OnDrawBackground(Surface(painter, plotBuffer_), rect, drawContext_);

    CAutoBaseLock guard(textLock_);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const WaveText& item : texts_) {
        if (item.text.isEmpty() || item.pointSize < 1) continue;
        const ChartRect where = BoundRect(item.rect.IsEmpty() ? plotRect_ : item.rect, plotRect_);
        const QRectF inPlot(where.left - plotRect_.left, where.top - plotRect_.top, where.Width(), where.Height());
        QFont font(GpResolveFontFamily(QString::fromUtf8(AXIS_FACE)));
        font.setPointSizeF(item.pointSize);
        GpStringFormat format;
        format.align = item.align;
        format.lineAlign = item.lineAlign;
        painter.setFont(font);
        painter.setPen(item.color);
        painter.drawText(inPlot, GpStringFormatToQtFlags(&format), item.text);
    }
}

void WaveChart::ComposeWaves(QPainter& painter) {
    const int count = waveCount_;
    double overallMin = 0.0;
    double overallMax = 0.0;
    for (int i = 0; i < count; ++i) {
        WaveInfo& wave = waves_[i];
        if (!wave.visible) continue;
        wave.points.clear();
        double lo = 0, hi = 0;
        wave.buffer.ComputePoints(plotRect_, viewMin_, viewMax_, 0, 1.0, wave.points, lo, hi);
        overallMin = std::min(overallMin, lo);
        overallMax = std::max(overallMax, hi);
    }
    for (int i = 0; i < count; ++i)
        if (waves_[i].visible) DropStrayPoints(waves_[i].points, plotRect_);

    if (autoScale_ && FitValueView(overallMin, overallMax, viewMin_, viewMax_)) {
        for (StripSide side : {STRIP_LEFT, STRIP_RIGHT}) {
            strips_[side].axis.minValue = viewMin_;
            strips_[side].axis.maxValue = viewMax_;
            strips_[side].dirty = true;
        }
        update();
    }

    // The background layer goes in by block copies, row by row.
    if (!plotBuffer_.isNull() && plotRect_.right <= backBuffer_.width() && plotRect_.bottom <= backBuffer_.height() &&
        plotRect_.left >= 0 && plotRect_.top >= 0) {
        const size_t rowBytes = static_cast<size_t>(plotRect_.Width()) * 4;
        for (int y = 0; y < plotRect_.Height(); ++y)
            std::memcpy(backBuffer_.scanLine(plotRect_.top + y) + static_cast<size_t>(plotRect_.left) * 4,
                        plotBuffer_.constScanLine(y), rowBytes);
    }

    const WaveWndSurface back = Surface(painter, backBuffer_);
    for (int i = 0; i < count; ++i) {
        const WaveInfo& wave = waves_[i];
        if (!wave.visible) continue;
        const int drawn = drawListener_ ? drawListener_->OnDrawWave(back, plotRect_, i, wave.points, lineWidth_,
                                                                    wave.color, 0, drawContext_)
                                        : 0;
        if (!drawn) DrawCurve(painter, wave);
    }
    if (drawListener_) drawListener_->OnDrawEnd(back, plotRect_, drawContext_);
}

// The outline of a polyline drawn with a wide pen, flat ends and miter joins (clipped
// at Qt's default miter limit of twice the pen's width): the left offsets forward,
// the right ones back. Its inside is also handed out as small convex pieces, whose
// union is the outline's winding fill: one quadrilateral per segment and one fan
// from the vertex per join's outer side. Filling the pieces one by one costs in
// proportion to the pixels they cover; one fill of the whole outline costs, per row,
// in proportion to the edges that cross it, which a curve that jumps up and down
// makes hundreds.
static QPolygonF WideLineOutline(const QPolygon& line, double halfWidth, std::vector<QPointF>& pieceCorners,
                                 std::vector<int>& pieceSizes) {
    pieceCorners.clear();
    pieceSizes.clear();
    const auto addPiece = [&](std::initializer_list<QPointF> corners) {
        pieceCorners.insert(pieceCorners.end(), corners);
        pieceSizes.push_back(static_cast<int>(corners.size()));
    };
    const int n = line.size();
    QPolygonF left;
    QPolygonF right;
    left.reserve(2 * n);
    right.reserve(2 * n);
    const double limit = 4.0 * (halfWidth + 0.5);  // twice the pen's width
    QPointF previousNormal;
    double dxPrevious = 0;
    double dyPrevious = 0;
    bool havePrevious = false;
    QPointF lastEnd;
    for (int i = 0; i + 1 < n; ++i) {
        const QPointF a = line[i];
        const QPointF b = line[i + 1];
        const double dx = b.x() - a.x();
        const double dy = b.y() - a.y();
        const double length = std::sqrt(dx * dx + dy * dy);
        if (length <= 0) continue;
        const QPointF normal(-dy / length * halfWidth, dx / length * halfWidth);
        if (!havePrevious) {
            left << a + normal;
            right << a - normal;
        } else {
            // The outer side of a join, as offsets from the vertex of a side whose
            // normals are pn and n: Qt's miter, clipped where it would reach beyond
            // the miter limit (twice the pen's width from the vertex).
            const QPointF pd(dxPrevious, dyPrevious);
            const QPointF d(dx / length, dy / length);
            const auto outerJoin = [&](const QPointF& pn, const QPointF& nextNormal) {
                QPolygonF join;
                QPointF u = pn + nextNormal;
                double uLength = std::sqrt(u.x() * u.x() + u.y() * u.y());
                if (uLength < 1e-9) {  // the line turns right back
                    u = pd - d;
                    uLength = std::sqrt(u.x() * u.x() + u.y() * u.y());
                }
                if (uLength < 1e-9) return join << pn << nextNormal;
                u = QPointF(u.x() / uLength, u.y() / uLength);
                const double cosine = (u.x() * nextNormal.x() + u.y() * nextNormal.y()) / halfWidth;
                const double miterLength = cosine > 1e-9 ? halfWidth / cosine : 2 * limit;
                if (miterLength <= limit) return join << u * miterLength;
                const double along = pd.x() * u.x() + pd.y() * u.y();
                const double t = along > 1e-9 ? (limit - (pn.x() * u.x() + pn.y() * u.y())) / along : 0.0;
                return join << pn + pd * t << nextNormal - d * t;
            };
            // The inner side goes through the vertex, as Qt's stroker does, so that
            // the offsets of a sharp turn never close over the gap between its legs.
            const double cross = previousNormal.x() * normal.y() - previousNormal.y() * normal.x();
            if (std::abs(cross) < 1e-9 && previousNormal.x() * normal.x() + previousNormal.y() * normal.y() > 0) {
                left << a + normal;
                right << a - normal;
            } else if (cross < 0) {
                const QPolygonF join = outerJoin(previousNormal, normal);
                for (const QPointF& o : join) left << a + o;
                right << a - previousNormal << a << a - normal;
                pieceCorners.push_back(a);
                pieceCorners.push_back(a + previousNormal);
                for (const QPointF& o : join) pieceCorners.push_back(a + o);
                pieceCorners.push_back(a + normal);
                pieceSizes.push_back(3 + static_cast<int>(join.size()));
            } else {
                left << a + previousNormal << a << a + normal;
                const QPolygonF join = outerJoin(-previousNormal, -normal);
                for (const QPointF& o : join) right << a + o;
                pieceCorners.push_back(a);
                pieceCorners.push_back(a - previousNormal);
                for (const QPointF& o : join) pieceCorners.push_back(a + o);
                pieceCorners.push_back(a - normal);
                pieceSizes.push_back(3 + static_cast<int>(join.size()));
            }
        }
        addPiece({a + normal, b + normal, b - normal, a - normal});
        previousNormal = normal;
        dxPrevious = dx / length;
        dyPrevious = dy / length;
        havePrevious = true;
        lastEnd = b;
    }
    if (!havePrevious) return {};
    left << lastEnd + previousNormal;
    right << lastEnd - previousNormal;
    QPolygonF outline = left;
    for (auto it = right.crbegin(); it != right.crend(); ++it) outline << *it;
    return outline;
}

// Whether four corners in drawing order make a rectangle whose sides lie on pixel edges.
static bool IsPixelAlignedRectangle(const QPointF* c) {
    const auto whole = [](double v) { return v == std::floor(v); };
    if (!whole(c[0].x()) || !whole(c[0].y()) || !whole(c[2].x()) || !whole(c[2].y())) return false;
    return (c[0].x() == c[1].x() && c[2].x() == c[3].x() && c[0].y() == c[3].y() && c[1].y() == c[2].y()) ||
           (c[0].y() == c[1].y() && c[2].y() == c[3].y() && c[0].x() == c[3].x() && c[1].x() == c[2].x());
}

void WaveChart::DrawCurve(QPainter& painter, const WaveInfo& wave) {
    if (wave.points.size() < 2) return;
    const int h = lineWidth_ / 2;
    QPolygon line(static_cast<int>(wave.points.size()));
    for (size_t i = 0; i < wave.points.size(); ++i) {
        int y = wave.points[i].y;
        // Keep the whole pen width inside the plot.
        if (y - h - 1 < plotRect_.top) y = plotRect_.top + 1 + h;
        if (y + 2 + h >= plotRect_.bottom) y = plotRect_.bottom - h - 2;
        line.setPoint(static_cast<int>(i), wave.points[i].x, y);
    }
    painter.save();
    painter.setClipRect(ToQRect(plotRect_));
    const QColor& color = wave.color;
    if (lineWidth_ > 2) {
        // A wide line as its outline: the inside filled without anti-aliasing and
        // the edge traced with an anti-aliased hairline. It looks like Qt's stroked
        // anti-aliased polyline but costs a fifth of it, since Qt's rasterizer
        // spends most of a wide anti-aliased stroke on coverage of the inside.
        // The hairline adds half a pixel on each side: the outline is that much inside.
        const QPolygonF outline = WideLineOutline(line, lineWidth_ / 2.0 - 0.5, pieceCorners_, pieceSizes_);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const QPointF* corners = pieceCorners_.data();
        for (const int size : pieceSizes_) {
            // A segment straight up, down or across on whole pixels is a rectangle: the
            // quickest fill there is, and the same pixels.
            if (size == 4 && IsPixelAlignedRectangle(corners))
                painter.fillRect(QRectF(corners[0], corners[2]).normalized().toRect(), color);
            else
                painter.drawConvexPolygon(corners, size);
            corners += size;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        QPen edge(color);
        edge.setWidthF(1.0);
        edge.setCosmetic(true);
        painter.setPen(edge);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(outline);
    } else {
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(color);
        pen.setWidth(lineWidth_);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawPolyline(line);
    }
    painter.restore();
}

void WaveChart::DrawStrip(QPainter& painter, AxisStrip& strip) {
    if (!strip.area.IsEmpty()) {
        painter.fillRect(ToQRect(strip.area), frameColor_);
        const QFont font = AxisFont(strip.axis);
        painter.setFont(font);
        painter.setPen(QColor::fromRgba(strip.axis.textColor));
        painter.setBackgroundMode(Qt::TransparentMode);
        const QFontMetrics metrics(font, &backBuffer_);
        for (const AxisLabel& label : strip.axis.ComputeLabels()) {
            const QRect rect = ToQRect(label.rect);
            if (rect.width() <= 0 || rect.height() <= 0) continue;
            const QString text = metrics.elidedText(QString::fromStdString(label.text), Qt::ElideRight, rect.width());
            painter.drawText(rect, AxisLabelQtFlags(label.format), text);
        }
    }
    strip.dirty = false;
}

void WaveChart::Paint(QPainter& target) {
    if (backBuffer_.isNull()) return;
    if (backgroundDirty_.exchange(false)) RenderBackground();
    {
        QPainter painter(&backBuffer_);
        ComposeWaves(painter);
        painter.setRenderHint(QPainter::TextAntialiasing);
        for (AxisStrip& strip : strips_)
            if (strip.dirty) DrawStrip(painter, strip);
    }
    target.drawImage(0, 0, backBuffer_);
}

void WaveChart::paintEvent(QPaintEvent*) {
    QElapsedTimer paintClock;
    paintClock.start();
    struct PaintTime {
        QElapsedTimer& clock;
        qint64& result;
        ~PaintTime() { result = clock.nsecsElapsed(); }
    } paintTime{paintClock, lastPaintNs_};
    QPainter painter(this);
    if (backBuffer_.isNull()) {
        painter.fillRect(rect(), frameColor_);
        return;
    }
    Paint(painter);
    painter.end();
    if (tipActive_ && QToolTip::isVisible()) UpdateTooltip();
}

void WaveChart::RequestRepaint() {
    if (repaintQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FrameClock& frames = FrameClock::Instance();
            const auto repaint = [this, &frames] {
                repaintQueued_.store(false);
                lastSampleRepaintMs_ = frames.NowMs();
                // New samples change the plot only; the strips follow when they are dirty.
                bool stripsDirty = false;
                for (const AxisStrip& strip : strips_) stripsDirty = stripsDirty || strip.dirty;
                if (stripsDirty || plotRect_.IsEmpty())
                    update();
                else
                    update(ToQRect(plotRect_));
            };
            if (lastSampleRepaintMs_ < 0) {
                repaint();
                return;
            }
            // Samples that come sooner than a frame after the last repaint wait for the
            // next frame; the request stays queued, so they are painted together.
            const qint64 sinceRepaint = frames.NowMs() - lastSampleRepaintMs_;
            const qint64 interval =
                sinceRepaint >= SLOW_SAMPLES_MS
                    ? FRAME_INTERVAL_MS
                    : std::clamp<qint64>(lastPaintNs_ * FRAME_PAINT_SHARE / 1000000, FRAME_INTERVAL_MS,
                                         FRAME_INTERVAL_MAX_MS);
            if (sinceRepaint >= interval)
                repaint();
            else
                frames.RunAt(this, lastSampleRepaintMs_ + interval, repaint);
        },
        Qt::QueuedConnection);
}

void WaveChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (width() == clientWidth_ && height() == clientHeight_) return;
    clientWidth_ = width();
    clientHeight_ = height();
    RecreateBuffers();
}

// ---- tooltips ----

bool WaveChart::AnyTooltipWave() const {
    for (int i = 0; i < waveCount_; ++i)
        if (waves_[i].tooltipEnabled) return true;
    return false;
}

void WaveChart::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    if (!tooltipsEnabled_ || !AnyTooltipWave()) return;
    const QPoint p = event->position().toPoint();
    if (ToQRect(plotRect_).contains(p)) {
        if (p != lastMouse_) {
            lastMouse_ = p;
            UpdateTooltip();
        }
    } else if (tipActive_) {
        QToolTip::hideText();
        tipActive_ = false;
    }
}

void WaveChart::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (AnyTooltipWave() && tipActive_) {
        QToolTip::hideText();
        tipActive_ = false;
    }
}

void WaveChart::UpdateTooltip() {
    const int mx = lastMouse_.x() - plotRect_.left;
    const int my = lastMouse_.y() - plotRect_.top;
    int best = -1;
    int bestDistance = clientHeight_;
    int bestIndex = 0;
    double bestValue = 0;
    for (int i = 0; i < waveCount_; ++i) {
        WaveInfo& wave = waves_[i];
        if (!wave.visible || !wave.tooltipEnabled) continue;
        int32_t index = 0, type = 0, pixelY = 0;
        double value = 0;
        if (!wave.buffer.HitTest(plotRect_, viewMin_, viewMax_, 0, 1.0, mx, index, type, value, pixelY)) continue;
        const int distance = std::abs(pixelY - my);
        // Strictly nearer only, so that ties keep the lower wave index.
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
            bestIndex = index;
            bestValue = value;
        }
    }
    if (best < 0) return;
    tooltipText_ = tooltipListener_
                       ? tooltipListener_->GetTooltipText(best, bestIndex, 0, sampleCount_, bestValue, tooltipContext_)
                       : QString();
    tipActive_ = true;
    QToolTip::showText(mapToGlobal(lastMouse_), tooltipText_, this);
}
