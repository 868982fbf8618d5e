#include "app/widgets/LayoutScaler.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>

namespace {

bool IsCompoundControl(const QWidget* widget)
{
    return qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QAbstractScrollArea*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLabel*>(widget) ||
           qobject_cast<const QTabBar*>(widget) || qobject_cast<const QAbstractSlider*>(widget);
}

}  // namespace

void LayoutScaler::AddChildWindows(QWidget* window)
{
    if (!window)
        return;
    for (QObject* object : window->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        // Windows of their own (balloons, pop-ups) and Qt's private parts are not controls.
        if (!child || child->isWindow() || child->objectName().startsWith(QLatin1String("qt_")))
            continue;
        Item item;
        item.widget = child;
        item.rect = child->geometry();
        item.initialFont = child->font();
        item.initialPixelSize = QFontInfo(child->font()).pixelSize();
        items_.push_back(item);
        if (!IsCompoundControl(child))
            AddChildWindows(child);
    }
}

int LayoutScaler::Resize(int width, int height, double* xFactor, double* yFactor)
{
    *xFactor = 1.0;
    *yFactor = 1.0;
    if (!enabled_ || initialSize_.width() <= 0 || initialSize_.height() <= 0)
        return 0;
    const double fx = static_cast<double>(width) / initialSize_.width();
    const double fy = static_cast<double>(height) / initialSize_.height();
    const double fontFactor = std::min(fx, fy);
    for (const Item& item : items_) {
        if (!item.widget)
            continue;
        const int left = static_cast<int>(item.rect.left() * fx);
        const int top = static_cast<int>(item.rect.top() * fy);
        const int right = static_cast<int>((item.rect.left() + item.rect.width()) * fx);
        const int bottom = static_cast<int>((item.rect.top() + item.rect.height()) * fy);
        item.widget->setGeometry(left, top, right - left, bottom - top);
        if (item.initialPixelSize != 0) {
            QFont font = item.initialFont;
            font.setPixelSize(std::max(1, static_cast<int>(item.initialPixelSize * fontFactor)));
            item.widget->setFont(font);
        }
    }
    if (window_)
        window_->update();
    *xFactor = fx;
    *yFactor = fy;
    return 1;
}
