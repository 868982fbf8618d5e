#include "controls/widgets/ScreenSaverInhibitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

#include <functional>

namespace {

constexpr const char* DBUS_SERVICE = "org.freedesktop.ScreenSaver";
constexpr const char* DBUS_PATH = "/org/freedesktop/ScreenSaver";

// The screen saver's interface when a session bus offers one.
bool WithScreenSaver(const std::function<void(QDBusInterface&)>& call) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(QString::fromLatin1(DBUS_SERVICE)))
        return false;
    QDBusInterface screenSaver(QString::fromLatin1(DBUS_SERVICE), QString::fromLatin1(DBUS_PATH),
                               QString::fromLatin1(DBUS_SERVICE), bus);
    if (!screenSaver.isValid()) return false;
    call(screenSaver);
    return true;
}

}  // namespace

void CScreenSaverInhibitor::Inhibit(const QString& reason) {
    if (cookie_ != 0) return;
    WithScreenSaver([this, &reason](QDBusInterface& screenSaver) {
        const QDBusReply<unsigned int> reply =
            screenSaver.call(QStringLiteral("Inhibit"), QCoreApplication::applicationName(), reason);
        if (reply.isValid()) cookie_ = reply.value();
    });
}

void CScreenSaverInhibitor::Release() {
    if (cookie_ == 0) return;
    const unsigned int cookie = cookie_;
    cookie_ = 0;
    WithScreenSaver([cookie](QDBusInterface& screenSaver) { screenSaver.call(QStringLiteral("UnInhibit"), cookie); });
}
