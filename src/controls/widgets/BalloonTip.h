#pragma once
// A balloon that shows stacked messages (title, text, icon) under a control:
// drawn completely by itself, with a tail at its top-left, a close button, a
// display time per message and a fade-out. It never takes the focus, and a click
// on it outside its close button closes it and goes on to the control under it.
//
// Messages are identified by a key (or, with a negative key, by title and text):
// repeating one while it is shown restarts its time instead of adding a line.

#include <string>
#include <vector>

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include "common/BaseLock.h"

// Icon codes: 1 and 4 information, 2 and 5 warning, 3 and 6 error; others draw none.
enum : int {
    BALLOON_ICON_NONE = 0,
    BALLOON_ICON_INFO = 1,
    BALLOON_ICON_WARNING = 2,
    BALLOON_ICON_ERROR = 3,
};

struct BalloonItem {
    int key = -1;
    std::string title;
    std::string text;
    int icon = BALLOON_ICON_NONE;
    QSize titleSize;
    QSize textSize;
    QRect iconRect;
    QRect titleRect;
    QRect textRect;
    int remaining = 0;  // ms of display left; 0 = expired
};

class BalloonTip : public QWidget {
    Q_OBJECT

public:
    static constexpr int COUNTDOWN_PERIOD_MS = 500;
    static constexpr int FADE_PERIOD_MS = 100;
    static constexpr int FADE_STEP = 17;
    static constexpr int DEFAULT_DISPLAY_TIME_MS = 5000;

    // The balloon is a tool-tip-like top-level window owned by owner (the nearest
    // ancestor window of the control it explains); it hides and empties itself
    // whenever the owner becomes invisible.
    explicit BalloonTip(QWidget* owner);
    ~BalloonTip() override;

    // The balloon of a control: created on first use, owned by the control's window.
    static BalloonTip* CreateBalloon(QWidget* owningControl);

    // Adds or refreshes a message and shows the window with its top-left corner at
    // the anchor (screen coordinates).
    void ShowBalloon(const std::string& title, const std::string& text, int icon, QPoint anchor, int key);

    void SetDefaultDisplayTime(int milliseconds) { defaultDisplayTime_ = milliseconds; }
    [[nodiscard]] int DefaultDisplayTime() const { return defaultDisplayTime_; }

    // --- State, for the owner and for tests ---
    [[nodiscard]] std::vector<BalloonItem> Items() const;
    [[nodiscard]] int Alpha() const { return alpha_; }
    [[nodiscard]] bool IsCountingDown() const { return countdown_.isActive(); }
    [[nodiscard]] bool IsFading() const { return fade_.isActive(); }
    [[nodiscard]] QRect CloseRect() const { return closeRect_; }
    [[nodiscard]] bool IsCloseHot() const { return closeHot_; }
    [[nodiscard]] const QImage& Bitmap() const { return bitmap_; }
    [[nodiscard]] QWidget* Owner() const { return owner_; }

    // The two timer steps (called by the timers; tests call them to step time).
    void OnCountdownTick();
    void OnFadeTick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RebuildLayout();
    void DrawShape(QImage& image, int width, int height) const;
    void DrawIcon(class QPainter& painter, const QRect& rect, int icon) const;
    void DrawCloseButton(class QPainter& painter) const;
    void PointerInside();
    void HideAndClear();
    void ApplyAlpha();

    QPointer<QWidget> owner_;
    QFont warningMarkFont_;
    QFont infoMarkFont_;
    QFont titleFont_;
    QFont textFont_;
    QImage bitmap_;
    int defaultDisplayTime_ = DEFAULT_DISPLAY_TIME_MS;
    int alpha_ = 255;
    mutable CBaseLock itemsLock_;  //!< Protects items_.
    std::vector<BalloonItem> items_;  // front = shown at the top
    QRect closeRect_;
    bool mouseInside_ = false;
    bool closeHot_ = false;
    QPointer<QWidget> clickTarget_;  // gets the release of a click that went through the balloon
    QTimer countdown_;  // timer 1
    QTimer fade_;       // timer 2
};
