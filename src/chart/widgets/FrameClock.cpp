#include "chart/widgets/FrameClock.h"

#include <algorithm>

#include <QCoreApplication>
#include <QTimerEvent>

FrameClock& FrameClock::Instance()
{
    // Parented to the application, so that it goes before Qt does; a later
    // application gets a new one.
    static QPointer<FrameClock> clock;
    if (!clock) clock = new FrameClock;
    return *clock;
}

FrameClock::FrameClock() : QObject(QCoreApplication::instance())
{
    clock_.start();
}

void FrameClock::RunAt(QObject* owner, qint64 earliestMs, std::function<void()> task)
{
    const qint64 grid = (std::max<qint64>(earliestMs, 0) + FRAME_INTERVAL_MS - 1) / FRAME_INTERVAL_MS * FRAME_INTERVAL_MS;
    const auto same = std::find_if(requests_.begin(), requests_.end(), [owner](const Request& r) { return r.key == owner; });
    if (same != requests_.end()) {
        same->owner = owner;  // the key may be a gone owner's, reused
        same->dueMs = grid;
        same->task = std::move(task);
    } else {
        requests_.push_back(Request{owner, owner, grid, std::move(task)});
    }
    Arm();
}

void FrameClock::Cancel(const QObject* owner)
{
    std::erase_if(requests_, [owner](const Request& r) { return r.key == owner; });
    Arm();
}

bool FrameClock::IsWaiting(const QObject* owner) const
{
    return std::any_of(requests_.begin(), requests_.end(), [owner](const Request& r) { return r.key == owner; });
}

void FrameClock::Arm()
{
    if (requests_.empty()) {
        timer_.stop();
        armedForMs_ = -1;
        return;
    }
    qint64 first = requests_.front().dueMs;
    for (const Request& r : requests_) first = std::min(first, r.dueMs);
    if (timer_.isActive() && armedForMs_ == first) return;
    armedForMs_ = first;
    // Precise: every display due at this tick runs from the same wake-up.
    timer_.start(static_cast<int>(std::max<qint64>(0, first - NowMs())), Qt::PreciseTimer, this);
}

void FrameClock::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer_.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    timer_.stop();
    armedForMs_ = -1;
    // A tick may come a little early on a coarse system clock: a millisecond's slack.
    const qint64 now = NowMs() + 1;
    std::vector<Request> due;
    for (auto it = requests_.begin(); it != requests_.end();) {
        if (it->dueMs <= now) {
            due.push_back(std::move(*it));
            it = requests_.erase(it);
        } else {
            ++it;
        }
    }
    // The tasks may ask for their next frame: that goes to requests_, not to this list.
    for (Request& r : due)
        if (r.owner) r.task();
    Arm();
}
