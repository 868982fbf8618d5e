#pragma once
// A static text and picture that paints itself without flicker: a solid colour or
// a stretched picture as background, the text over it in its own colour, font and
// alignment, either as one block or as lines spread evenly over the height.

#include <QColor>
#include <QHash>
#include <QLabel>

#include <memory>
#include <optional>
#include <vector>

#include "controls/imagelib/GdiplusImage.h"

class ColorLabel : public QLabel {
    Q_OBJECT

public:
    // -1: the text is one block; 0: its lines are spread evenly over the height.
    enum LayoutMode { LAYOUT_BLOCK = -1, LAYOUT_LINES = 0 };

    explicit ColorLabel(QWidget* parent = nullptr);
    ~ColorLabel() override;

    // Shows a private copy of the picture stretched over the control; null returns
    // to the background colour. The caller keeps its own bitmap.
    void SetBitmap(GpBitmap* picture);
    // Alignments 0 near, 1 centre, 2 far; flags as the string format's.
    void SetTextAlign(int align, int lineAlign, int flags);
    // The dark look of the monitoring page: face "黑体" at fontSize points, text near
    // and vertically centred, lines spread out, white text on 0xFF2A323C.
    void SetDarkStyle(GpBitmap* picture, const std::optional<QString>& text, int fontSize);

    void SetBackgroundColor(const QColor& color);
    void SetTextColor(const QColor& color);
    void SetLayoutMode(int mode);

    [[nodiscard]] QColor BackgroundColor() const { return background_; }
    [[nodiscard]] QColor TextColor() const { return textColor_; }
    [[nodiscard]] int LayoutModeValue() const { return layoutMode_; }
    [[nodiscard]] bool HasPicture() const { return picture_ != nullptr; }

    // Tops of lines of the given heights in a layout of that top and height, with
    // equal gaps (height - sum) / (lines + 1), placed by the line alignment.
    [[nodiscard]] static std::vector<double> LineTops(const std::vector<double>& heights, double top, double height,
                                                      int lineAlign);
    // The text split at every "\n"; empty inner lines stay, a final "\n" ends the last line.
    [[nodiscard]] static QStringList SplitLines(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct BitmapDeleter {
        void operator()(GpBitmap* b) const { Gdiplus_DeleteBitmap(b); }
    };

    [[nodiscard]] QFont DrawingFont() const;
    void DrawLines(QPainter& painter, const QRect& rect, const QFont& font) const;

    std::unique_ptr<GpBitmap, BitmapDeleter> picture_;
    QColor background_{0xF0, 0xF0, 0xF0};  // the system's button face
    std::optional<QFont> ownFont_;
    QColor textColor_ = Qt::black;
    int align_ = STRING_ALIGN_CENTER;
    int lineAlign_ = STRING_ALIGN_CENTER;
    int formatFlags_ = 0;
    int layoutMode_ = LAYOUT_BLOCK;
    // Line heights as measured for the font, width and flags in lineHeightsFor_: a
    // status label repainted several times a second mostly shows lines it had before.
    mutable QHash<QString, double> lineHeights_;
    mutable QString lineHeightsFor_;
};
