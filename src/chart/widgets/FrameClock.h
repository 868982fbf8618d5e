#pragma once
// One clock for the window's live displays.
//
// A display that has something new to show and has shown something a moment ago
// asks for a frame no sooner than some time. The times are rounded up to a common
// grid of FRAME_INTERVAL_MS, and everything due is run from one timer tick: the
// charts and the status text that a report changed are repainted in the same turn
// of the event loop, so the window wakes once and flushes to the screen once per
// frame instead of once per display.
//
// GUI thread only.

#include <functional>
#include <vector>

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class FrameClock : public QObject {
public:
    // The grid's step: at most 25 frames a second.
    static constexpr int FRAME_INTERVAL_MS = 40;

    // The GUI thread's clock (created at the first call).
    static FrameClock& Instance();

    // Milliseconds on this clock.
    [[nodiscard]] qint64 NowMs() const { return clock_.elapsed(); }

    // Runs task at the first grid tick at or after earliestMs, or at the next turn of
    // the event loop when that tick has passed. A request of the same owner that has
    // not run yet is replaced; nothing runs for an owner that is gone by then.
    void RunAt(QObject* owner, qint64 earliestMs, std::function<void()> task);
    // Drops the owner's waiting request, if any.
    void Cancel(const QObject* owner);
    [[nodiscard]] bool IsWaiting(const QObject* owner) const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    FrameClock();
    void Arm();

    struct Request {
        QPointer<QObject> owner;
        const QObject* key = nullptr;
        qint64 dueMs = 0;
        std::function<void()> task;
    };
    QElapsedTimer clock_;
    std::vector<Request> requests_;
    QBasicTimer timer_;
    qint64 armedForMs_ = -1;
};
