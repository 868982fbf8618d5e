#include "controls/widgets/ColorLabel.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include "controls/imagelib/GdiplusObjects.h"

namespace {

constexpr QRgb DARK_BACKGROUND = 0xFF2A323C;

}  // namespace

ColorLabel::ColorLabel(QWidget* parent) : QLabel(parent) {
    // All drawing comes from the memory image; nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ColorLabel::~ColorLabel() = default;

void ColorLabel::SetBitmap(GpBitmap* picture) {
    picture_.reset(picture ? Gdiplus_CopyBitmap(picture) : nullptr);
    update();
}

void ColorLabel::SetTextAlign(int align, int lineAlign, int flags) {
    align_ = align;
    lineAlign_ = lineAlign;
    formatFlags_ = flags;
    update();
}

void ColorLabel::SetDarkStyle(GpBitmap* picture, const std::optional<QString>& text, int fontSize) {
    QFont font(GpResolveFontFamily(QStringLiteral("黑体")));
    // Height in pixels from points at the screen's vertical resolution, rounded.
    font.setPixelSize(std::max(1, static_cast<int>((static_cast<int64_t>(fontSize) * logicalDpiY() + 36) / 72)));
    ownFont_ = font;
    setFont(font);
    align_ = STRING_ALIGN_NEAR;
    lineAlign_ = STRING_ALIGN_CENTER;
    formatFlags_ = 0;
    layoutMode_ = LAYOUT_LINES;
    textColor_ = Qt::white;
    SetBitmap(picture);
    background_ = QColor::fromRgb(DARK_BACKGROUND);
    if (text) setText(*text);
    update();
}

void ColorLabel::SetBackgroundColor(const QColor& color) {
    background_ = color;
    update();
}

void ColorLabel::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void ColorLabel::SetLayoutMode(int mode) {
    layoutMode_ = mode;
    update();
}

std::vector<double> ColorLabel::LineTops(const std::vector<double>& heights, double top, double height,
                                           int lineAlign) {
    std::vector<double> tops;
    if (heights.empty()) return tops;
    double sum = 0;
    for (double h : heights) sum += h;
    const double lines = static_cast<double>(heights.size());
    const double gap = (height - sum) / (lines + 1);
    double y = 0;
    switch (lineAlign) {
    case STRING_ALIGN_NEAR: y = top; break;
    case STRING_ALIGN_CENTER: y = top + gap; break;
    case STRING_ALIGN_FAR: y = top + height - sum - (lines - 1) * gap; break;
    default: y = 0; break;
    }
    for (double h : heights) {
        tops.push_back(y);
        y += h + gap;
    }
    return tops;
}

QStringList ColorLabel::SplitLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QFont ColorLabel::DrawingFont() const {
    // The font the control holds now (SetDarkStyle's, or one set on it later), else
    // the nearest ancestor that has one set, else the application's font.
    QFont source = QApplication::font();
    for (const QWidget* w = this; w; w = w->parentWidget()) {
        if (w->testAttribute(Qt::WA_SetFont)) {
            source = w->font();
            break;
        }
    }
    const int dpi = std::max(1, logicalDpiY());
    const int pixels = source.pixelSize() > 0 ? source.pixelSize()
                                              : static_cast<int>(source.pointSizeF() * dpi / 72.0 + 0.5);
    QFont font(GpResolveFontFamily(source.family()));
    // Whole points, as the height in pixels gives them at the screen's resolution.
    font.setPointSize(std::max(1, pixels * 72 / dpi));
    font.setBold(source.weight() >= QFont::DemiBold);
    return font;
}

void ColorLabel::DrawLines(QPainter& painter, const QRect& rect, const QFont& font) const {
    const QStringList pieces = SplitLines(text());
    if (pieces.isEmpty()) return;
    GpStringFormat format;
    format.align = align_;
    format.lineAlign = lineAlign_;
    format.flags = formatFlags_;
    const int measureFlags = GpStringFormatToQtFlags(&format);
    const QFontMetricsF metrics(font, painter.device());

    const QString measuredFor = QStringLiteral("%1|%2|%3|%4|%5")
                                    .arg(font.key())
                                    .arg(painter.device()->logicalDpiY())
                                    .arg(rect.width())
                                    .arg(rect.height())
                                    .arg(measureFlags);
    if (measuredFor != lineHeightsFor_ || lineHeights_.size() > 64) {
        lineHeights_.clear();
        lineHeightsFor_ = measuredFor;
    }
    QStringList lines;
    std::vector<double> heights;
    for (const QString& piece : pieces) {
        QString line = piece;
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        lines << line;
        // An empty line still takes the height of one line of the font.
        const QString measured = line.isEmpty() ? QStringLiteral(" ") : line;
        auto known = lineHeights_.constFind(measured);
        if (known == lineHeights_.constEnd())
            known = lineHeights_.insert(measured, metrics.boundingRect(QRectF(rect), measureFlags, measured).height());
        heights.push_back(*known);
    }
    const std::vector<double> tops = LineTops(heights, rect.top(), rect.height(), lineAlign_);

    format.lineAlign = STRING_ALIGN_NEAR;
    const int drawFlags = GpStringFormatToQtFlags(&format);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) continue;
        painter.drawText(QRectF(rect.left(), tops[i], rect.width(), heights[i]), drawFlags, lines[i]);
    }
}

void ColorLabel::paintEvent(QPaintEvent*) {
    const QRect rect(0, 0, width(), height());
    if (rect.isEmpty()) return;
    QImage buffer(rect.size(), QImage::Format_RGB32);
    buffer.fill(Qt::black);
    const int dotsPerMeter = static_cast<int>(logicalDpiY() / 0.0254 + 0.5);
    buffer.setDotsPerMeterX(dotsPerMeter);
    buffer.setDotsPerMeterY(dotsPerMeter);
    {
        QPainter painter(&buffer);
        if (picture_ && !picture_->image.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(rect), picture_->image, QRectF(picture_->image.rect()));
        } else {
            painter.fillRect(rect, background_);
        }
        const QString content = text();
        if (!content.isEmpty()) {
            const QFont font = DrawingFont();
            painter.setFont(font);
            painter.setPen(textColor_);
            painter.setRenderHint(QPainter::TextAntialiasing);
            if (layoutMode_ == LAYOUT_LINES) {
                DrawLines(painter, rect, font);
            } else if (layoutMode_ == LAYOUT_BLOCK) {
                GpStringFormat format;
                format.align = align_;
                format.lineAlign = lineAlign_;
                format.flags = formatFlags_;
                painter.drawText(QRectF(rect), GpStringFormatToQtFlags(&format), content);
            }
        }
    }
    QPainter(this).drawImage(0, 0, buffer);
}
