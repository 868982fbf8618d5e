#pragma once
// A worker's notice to a window, carried as the window message it stands for: a
// message number and two integer values. A worker posts it from its own thread
// with PostMessageEvent and returns at once; the receiver's event loop delivers it
// on the receiver's thread, in the order the thread posted.
//
// The event type is QEvent::User + the message number, the same for every poster
// and receiver of that number; the type is reserved with Qt on first use. Two
// windows may give one number different meanings (the target page's 0x0500 is the
// generator dialog's 1280): each receiver interprets the numbers it is sent.
//
// A receiver handles them in event() or customEvent():
//     if (const CMessageEvent* m = CMessageEvent::Cast(e)) { switch (m->Message()) ... }

#include <QEvent>
#include <QtGlobal>

class QObject;

class CMessageEvent : public QEvent {
public:
    // Highest number that has an event type (QEvent::MaxUser - QEvent::User).
    static constexpr int MAX_MESSAGE = QEvent::MaxUser - QEvent::User;

    CMessageEvent(int message, qintptr wParam, qintptr lParam);

    [[nodiscard]] int Message() const { return message_; }
    [[nodiscard]] qintptr WParam() const { return wParam_; }
    [[nodiscard]] qintptr LParam() const { return lParam_; }

    // The event type of a message number, reserved with Qt on first use;
    // QEvent::None for a number outside 0..MAX_MESSAGE.
    [[nodiscard]] static QEvent::Type TypeOf(int message);
    // The event as a message event, or null for any other event.
    [[nodiscard]] static const CMessageEvent* Cast(const QEvent* event);

private:
    int message_;
    qintptr wParam_;
    qintptr lParam_;
};

// Posts the message to the receiver from any thread and returns without waiting
// (QCoreApplication::postEvent; Qt owns the event). False, and nothing posted, for
// a null receiver or a number outside 0..MAX_MESSAGE. The receiver must outlive the
// call; events still queued when it is deleted are dropped with it.
bool PostMessageEvent(QObject* receiver, int message, qintptr wParam = 0, qintptr lParam = 0);
