#pragma once
// Proportional layout: remembers every control's rectangle and font at a design
// size and, when the served window is resized, scales the rectangles by the two
// size factors and the fonts by the smaller one.

#include <vector>

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class LayoutScaler {
public:
    struct Item {
        QPointer<QWidget> widget;
        QRect rect;           // in the parent's coordinates at collection time
        QFont initialFont;
        int initialPixelSize = 0;  // 0 when the font has no size to scale
    };

    // The window served, and whether Resize does anything.
    void SetWindow(QWidget* window) { window_ = window; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    [[nodiscard]] bool IsEnabled() const { return enabled_; }
    // The client size the recorded rectangles belong to.
    void SetInitialSize(QSize size) { initialSize_ = size; }
    [[nodiscard]] QSize InitialSize() const { return initialSize_; }

    void ClearItems() { items_.clear(); }
    // Records every descendant control of the window, parents before their children.
    // Compound controls (combo boxes, spin boxes, scroll areas, buttons, labels,
    // edits) are recorded whole: their inner parts follow their own layout.
    void AddChildWindows(QWidget* window);
    [[nodiscard]] const std::vector<Item>& Items() const { return items_; }

    // Scales every recorded control to the new client size. Sets both factors
    // (1.0 when disabled) and returns 1 when it laid out, 0 when disabled.
    int Resize(int width, int height, double* xFactor, double* yFactor);

private:
    QPointer<QWidget> window_;
    bool enabled_ = false;
    QSize initialSize_;
    std::vector<Item> items_;
};
