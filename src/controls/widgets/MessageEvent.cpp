#include "controls/widgets/MessageEvent.h"

#include <QCoreApplication>
#include <QtDebug>
#include <mutex>
#include <set>

namespace {

std::mutex gReservedMutex;  //!< Protects gReserved.
std::set<int> gReserved;    // message numbers whose event type has been reserved with Qt

}  // namespace

CMessageEvent::CMessageEvent(int message, qintptr wParam, qintptr lParam)
    : QEvent(TypeOf(message)), message_(message), wParam_(wParam), lParam_(lParam) {}

QEvent::Type CMessageEvent::TypeOf(int message) {
    if (message < 0 || message > MAX_MESSAGE) return QEvent::None;
    const int type = QEvent::User + message;
    std::lock_guard<std::mutex> lock(gReservedMutex);
    if (gReserved.insert(message).second) {
        // Keeps registerEventType from handing the same type to other code. A
        // different answer means someone took it first; the number still maps to
        // its own type, so that posters and receivers agree.
        if (QEvent::registerEventType(type) != type)
            qWarning("event type %d of message 0x%04x was already registered elsewhere", type, message);
    }
    return static_cast<QEvent::Type>(type);
}

const CMessageEvent* CMessageEvent::Cast(const QEvent* event) {
    if (!event || event->type() < QEvent::User || event->type() > QEvent::MaxUser) return nullptr;
    return dynamic_cast<const CMessageEvent*>(event);
}

bool PostMessageEvent(QObject* receiver, int message, qintptr wParam, qintptr lParam) {
    if (!receiver || message < 0 || message > CMessageEvent::MAX_MESSAGE) return false;
    QCoreApplication::postEvent(receiver, new CMessageEvent(message, wParam, lParam));
    return true;
}
