#include "controls/widgets/BalloonTip.h"

#include <algorithm>

#include <QApplication>
#include <QBitmap>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QRegion>

#include "controls/widgets/UiFont.h"

namespace {

// Pixels of this colour lie outside the balloon's shape.
const QColor KEY_COLOR(255, 0, 0);

bool IsKeyPixel(QRgb pixel)
{
    return qRed(pixel) == 255 && qGreen(pixel) <= 16 && qBlue(pixel) <= 16;
}

// A rectangle given by its edges, right and bottom exclusive.
QRect EdgeRect(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QSize MeasureText(const QFont& font, const std::string& text)
{
    QFontMetrics metrics(font);
    return metrics.boundingRect(QRect(0, 0, 0, 0), 0, QString::fromStdString(text)).size();
}

}  // namespace

BalloonTip::BalloonTip(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      owner_(owner),
      warningMarkFont_(HeiFont(10)),
      infoMarkFont_(HeiFont(14)),
      titleFont_(HeiFont(14)),
      textFont_(HeiFont(9))
{
    setObjectName(QStringLiteral("BALLOONWND"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
    setAutoFillBackground(false);
    countdown_.setInterval(COUNTDOWN_PERIOD_MS);
    fade_.setInterval(FADE_PERIOD_MS);
    connect(&countdown_, &QTimer::timeout, this, &BalloonTip::OnCountdownTick);
    connect(&fade_, &QTimer::timeout, this, &BalloonTip::OnFadeTick);
    if (owner_)
        owner_->installEventFilter(this);
}

BalloonTip::~BalloonTip()
{
    if (owner_)
        owner_->removeEventFilter(this);
}

BalloonTip* BalloonTip::CreateBalloon(QWidget* owningControl)
{
    QWidget* owner = owningControl ? owningControl->window() : nullptr;
    return new BalloonTip(owner);
}

std::vector<BalloonItem> BalloonTip::Items() const
{
    CAutoBaseLock lock(itemsLock_);
    return items_;
}

void BalloonTip::ShowBalloon(const std::string& title, const std::string& text, int icon, QPoint anchor, int key)
{
    countdown_.stop();
    fade_.stop();
    {
        CAutoBaseLock lock(itemsLock_);
        auto found = std::find_if(items_.begin(), items_.end(), [&](const BalloonItem& item) {
            if (key >= 0)
                return item.key == key;
            return item.title == title && item.text == text;
        });
        if (found != items_.end()) {
            // A repeat keeps the first wording and restarts its time.
            BalloonItem item = *found;
            item.icon = icon;
            item.remaining = defaultDisplayTime_;
            items_.erase(found);
            items_.insert(items_.begin(), std::move(item));
        } else {
            BalloonItem item;
            item.key = key;
            item.title = title;
            item.text = text;
            item.icon = icon;
            item.remaining = defaultDisplayTime_;
            items_.insert(items_.begin(), std::move(item));
        }
    }
    move(anchor);
    RebuildLayout();

    QWidget* focused = QApplication::focusWidget();
    show();
    raise();
    if (focused && QApplication::focusWidget() != focused)
        focused->setFocus(Qt::OtherFocusReason);

    mouseInside_ = false;
    closeHot_ = false;
    alpha_ = 255;
    ApplyAlpha();
    countdown_.start();
}

void BalloonTip::RebuildLayout()
{
    int width = 0;
    int height = 0;
    {
        CAutoBaseLock lock(itemsLock_);
        int y = 32;
        int right = 0;
        for (BalloonItem& item : items_) {
            if (item.remaining == 0)
                continue;
            item.titleSize = MeasureText(titleFont_, item.title);
            item.textSize = MeasureText(textFont_, item.text);
            const int tw = item.titleSize.width();
            const int th = item.titleSize.height();
            const int xw = item.textSize.width();
            const int xh = item.textSize.height();
            item.iconRect = EdgeRect(14, y, 44, y + 30);
            item.titleRect = EdgeRect(54, y, 56 + tw, y + th + 2);
            item.textRect = EdgeRect(54, y + th + 4, 56 + xw, y + th + 6 + xh);
            right = std::max({right, 56 + tw, 56 + xw});
            y = std::max({y + 30, y + th + 2, y + th + 6 + xh}) + 8;
        }
        height = y + 6;
        width = right + 40;
        if (width % 4 != 0)
            width += 4 - width % 4;
        closeRect_ = EdgeRect(width - 30, 32, width - 10, 52);

        QImage image(width, height, QImage::Format_RGB32);
        DrawShape(image, width, height);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (const BalloonItem& item : items_) {
            if (item.remaining == 0)
                continue;
            DrawIcon(painter, item.iconRect, item.icon);
            painter.setBackgroundMode(Qt::OpaqueMode);
            painter.setBackground(Qt::white);
            painter.setFont(titleFont_);
            painter.setPen(QColor(0, 51, 153));
            painter.drawText(item.titleRect, 0, QString::fromStdString(item.title));
            painter.setFont(textFont_);
            painter.setPen(Qt::black);
            painter.drawText(item.textRect, 0, QString::fromStdString(item.text));
            painter.setBackgroundMode(Qt::TransparentMode);
        }
        painter.end();
        bitmap_ = std::move(image);
    }

    // The window's shape: every pixel that is not the key colour.
    QImage mask(width, height, QImage::Format_Mono);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});  // 0 = outside, 1 = inside
    mask.fill(0);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(bitmap_.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (!IsKeyPixel(line[x]))
                mask.setPixel(x, y, 1);
        }
    }
    setMask(QRegion(QBitmap::fromImage(mask)));
    resize(width, height);
    update();
}

void BalloonTip::DrawShape(QImage& image, int width, int height) const
{
    image.fill(KEY_COLOR);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygon({QPoint(20, 0), QPoint(20, 20), QPoint(40, 20)}));
    painter.drawRoundedRect(QRect(0, 20, width - 1, height - 21), 7, 7);
    // Opens the border between tail and body.
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(QPoint(21, 20), QPoint(39, 20));
}

void BalloonTip::DrawIcon(QPainter& painter, const QRect& rect, int icon) const
{
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBackgroundMode(Qt::TransparentMode);
    switch (icon) {
    case 1:
    case 4:
        painter.setPen(QPen(QColor(0, 78, 140), 1));
        painter.setBrush(QColor(0, 120, 215));
        painter.drawEllipse(EdgeRect(l, t, r - 1, b - 1));
        painter.setPen(Qt::white);
        painter.setFont(infoMarkFont_);
        painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("i"));
        break;
    case 2:
    case 5:
        painter.setPen(QPen(QColor(255, 185, 0), 1));
        painter.setBrush(QColor(252, 225, 0));
        painter.drawPolygon(QPolygon({QPoint((l + r) / 2, t), QPoint(l, b - 1), QPoint(r - 1, b - 1)}));
        painter.setPen(Qt::black);
        painter.setFont(warningMarkFont_);
        painter.drawText(EdgeRect(l, t, r, b - 1), Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
                         QStringLiteral("!"));
        break;
    case 3:
    case 6:
        painter.setPen(QPen(QColor(165, 38, 19), 1));
        painter.setBrush(QColor(240, 58, 23));
        painter.drawEllipse(EdgeRect(l, t, r - 1, b - 1));
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(QPoint(l + 8, t + 8), QPoint(r - 8, b - 8));
        painter.drawLine(QPoint(l + 8, b - 8), QPoint(r - 8, t + 8));
        break;
    default:
        break;
    }
    painter.restore();
}

void BalloonTip::DrawCloseButton(QPainter& painter) const
{
    const QRect& rect = closeRect_;
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    const QPalette& pal = palette();
    QColor outline = closeHot_ ? pal.color(QPalette::Active, QPalette::Highlight).darker(130)
                               : pal.color(QPalette::Inactive, QPalette::Mid);
    QColor fill = closeHot_ ? pal.color(QPalette::Active, QPalette::Highlight) : pal.color(QPalette::Button);
    QColor cross = closeHot_ ? Qt::white : Qt::black;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(outline, 1));
    painter.setBrush(fill);
    painter.drawEllipse(EdgeRect(l, t, r - 1, b - 1));
    painter.setPen(QPen(cross, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPoint(l + 6, t + 6), QPoint(r - 6, b - 6));
    painter.drawLine(QPoint(l + 6, b - 6), QPoint(r - 6, t + 6));
    painter.restore();
}

void BalloonTip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!bitmap_.isNull())
        painter.drawImage(0, 0, bitmap_);
    if (!closeRect_.isEmpty())
        DrawCloseButton(painter);
}

void BalloonTip::OnCountdownTick()
{
    bool alive = false;
    bool expired = false;
    {
        CAutoBaseLock lock(itemsLock_);
        for (BalloonItem& item : items_) {
            if (item.remaining > COUNTDOWN_PERIOD_MS) {
                item.remaining -= COUNTDOWN_PERIOD_MS;
                alive = true;
            } else if (item.remaining != 0) {
                item.remaining = 0;
                expired = true;
            }
        }
    }
    if (!alive) {
        countdown_.stop();
        alpha_ = 255;
        ApplyAlpha();
        fade_.start();
    } else if (expired) {
        RebuildLayout();
    }
}

void BalloonTip::OnFadeTick()
{
    alpha_ -= FADE_STEP;
    if (alpha_ < 1) {
        fade_.stop();
        HideAndClear();
        return;
    }
    ApplyAlpha();
}

void BalloonTip::ApplyAlpha()
{
    setWindowOpacity(alpha_ / 255.0);
}

void BalloonTip::HideAndClear()
{
    countdown_.stop();
    fade_.stop();
    hide();
    CAutoBaseLock lock(itemsLock_);
    items_.clear();
}

void BalloonTip::PointerInside()
{
    if (!mouseInside_ && alpha_ > 0) {
        countdown_.stop();
        fade_.stop();
        alpha_ = 255;
        ApplyAlpha();
        mouseInside_ = true;
    }
}

void BalloonTip::enterEvent(QEnterEvent* event)
{
    PointerInside();
    QWidget::enterEvent(event);
}

void BalloonTip::mouseMoveEvent(QMouseEvent* event)
{
    PointerInside();
    const bool overClose = closeRect_.contains(event->position().toPoint());
    if (overClose != closeHot_) {
        closeHot_ = overClose;
        update();
    }
}

void BalloonTip::leaveEvent(QEvent* event)
{
    if (mouseInside_) {
        mouseInside_ = false;
        {
            CAutoBaseLock lock(itemsLock_);
            for (BalloonItem& item : items_)
                item.remaining = std::max(item.remaining, 2000);
        }
        countdown_.start();
    }
    if (closeHot_) {
        closeHot_ = false;
        update();
    }
    QWidget::leaveEvent(event);
}

void BalloonTip::mousePressEvent(QMouseEvent* event)
{
    if (closeRect_.contains(event->position().toPoint())) {
        if (event->button() == Qt::LeftButton)
            raise();
        return;
    }
    // The balloon lies over the controls below the one it explains (the next edit,
    // a button): a click on it was meant for them. The balloon goes, and the click
    // and the focus go to what lies under it.
    const QPointF global = event->globalPosition();
    HideAndClear();
    QWidget* under = QApplication::widgetAt(global.toPoint());
    if (!under || under == this || under->window() == this)
        return;
    for (QWidget* candidate = under; candidate; candidate = candidate->parentWidget()) {
        if (candidate->isEnabled() && (candidate->focusPolicy() & Qt::ClickFocus)) {
            candidate->setFocus(Qt::MouseFocusReason);
            break;
        }
        if (candidate->isWindow())
            break;
    }
    clickTarget_ = under;
    QMouseEvent press(QEvent::MouseButtonPress, under->mapFromGlobal(global), global, event->button(),
                      event->buttons(), event->modifiers());
    QApplication::sendEvent(under, &press);
}

void BalloonTip::mouseReleaseEvent(QMouseEvent* event)
{
    if (QPointer<QWidget> target = clickTarget_) {
        clickTarget_ = nullptr;
        const QPointF global = event->globalPosition();
        QMouseEvent release(QEvent::MouseButtonRelease, target->mapFromGlobal(global), global, event->button(),
                            event->buttons(), event->modifiers());
        QApplication::sendEvent(target, &release);
        return;
    }
    if (event->button() == Qt::LeftButton && closeRect_.contains(event->position().toPoint()))
        HideAndClear();
}

void BalloonTip::moveEvent(QMoveEvent* event)
{
    if (owner_ && !owner_->isVisible() && isVisible())
        HideAndClear();
    QWidget::moveEvent(event);
}

bool BalloonTip::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner_ && event->type() == QEvent::Hide && isVisible())
        HideAndClear();
    return QWidget::eventFilter(watched, event);
}
