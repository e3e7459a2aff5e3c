#include "platform/desktop/UserNotice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace platform {
namespace {

UserNotice::Fallback& fallback() {
    static UserNotice::Fallback instance;
    return instance;
}

const QString kService = QStringLiteral("org.freedesktop.Notifications");

bool notifyOverBus(const QString& title, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                       kService, QStringLiteral("Notify"));
    call << QStringLiteral("Zentola") << uint(0) << QStringLiteral("zentola") << title << body << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}} << int(-1);
    // Not waited for: a slow notification daemon must not stall the capture that failed.
    return bus.send(call);
}

}  // namespace

bool UserNotice::show(const QString& title, const QString& body) {
    if (notifyOverBus(title, body))
        return true;
    return fallback() && fallback()(title, body);
}

void UserNotice::setFallback(Fallback f) {
    fallback() = std::move(f);
}

}  // namespace platform
