#pragma once
// The window's sensor thread: every exchange with the sensor that a page or the
// main window asks for runs here, one after another, so that the window keeps
// repainting, moving and switching pages while a silent sensor waits out its
// time-outs.
//
// Threads: Run, IsBusy and Session are called on the user-interface thread only.
// A job runs on the sensor thread with the session and must not touch a widget;
// its result comes back by a queued call on the user-interface thread, and is
// dropped when the receiver is gone by then. Streaming workers (a live run,
// threshold generation, a download) take a claim on the session from the
// user-interface thread while the thread is idle (IsBusy false).

#include <functional>
#include <memory>
#include <utility>

#include <QObject>
#include <QPointer>
#include <QThread>

#include "session/SensorSession.h"

class SensorThread : public QObject {
    Q_OBJECT

public:
    explicit SensorThread(SensorSession& session, QObject* parent = nullptr);
    // Lets the job in progress end (its result is dropped) and joins the thread;
    // jobs still queued do not run.
    ~SensorThread() override;

    // Queues job; done gets its result on the user-interface thread, unless
    // receiver was destroyed meanwhile.
    template <class Result>
    void Run(QObject* receiver, std::function<Result(SensorSession&)> job, std::function<void(Result)> done);

    // Lets the job in progress end and joins the thread (as the destructor does);
    // Run queues nothing afterwards.
    void Stop();

    // False once stopped: Run then queues nothing.
    [[nodiscard]] bool IsRunning() const { return thread_.isRunning(); }

    // True from a Run until its result has been handed on.
    [[nodiscard]] bool IsBusy() const { return pending_ > 0; }
    // True when an operation may be queued: nothing queued or running, and no
    // streaming worker holds the line.
    [[nodiscard]] bool CanRun() const { return !IsBusy() && !session_.IsLineClaimed(); }
    // For claims and for what is safe from any thread (IsConnected, IsLineClaimed).
    [[nodiscard]] SensorSession& Session() { return session_; }

signals:
    // The thread started or finished its queue (the window shows it).
    void busyChanged(bool busy);

private:
    void Started();
    void Finished();

    SensorSession& session_;
    QThread thread_;
    QObject* worker_;  // lives on thread_; jobs are queued calls to it
    int pending_ = 0;  // user-interface thread only
};

template <class Result>
void SensorThread::Run(QObject* receiver, std::function<Result(SensorSession&)> job, std::function<void(Result)> done)
{
    if (!thread_.isRunning())
        return;
    Started();
    QPointer<QObject> target(receiver);
    QMetaObject::invokeMethod(
        worker_,
        [this, job = std::move(job), done = std::move(done), target]() mutable {
            auto result = std::make_shared<Result>(job(session_));
            QMetaObject::invokeMethod(
                this,
                [this, result, done = std::move(done), target] {
                    Finished();
                    if (target)
                        done(std::move(*result));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
