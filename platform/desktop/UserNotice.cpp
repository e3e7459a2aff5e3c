#include "platform/desktop/UserNotice.h"

#include "platform/core/MainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

#include <utility>
#include <vector>

namespace platform {
namespace {

UserNotice::Fallback& fallback() {
    static UserNotice::Fallback instance;
    return instance;
}

// About as long as a notice stays on screen.
constexpr int repeatAfterMs = 5000;
// A notification service answers in milliseconds, one the bus starts for us in a second or so.
constexpr int replyTimeoutMs = 5000;

// Main thread only: whether this notice is new, remembering it if so.
bool firstTelling(const QString& title, const QString& body) {
    struct Told {
        QString title, body;
        QDeadlineTimer forgotten;
    };
    static std::vector<Told> recent;
    std::erase_if(recent, [](const Told& t) { return t.forgotten.hasExpired(); });
    for (const Told& t : recent)
        if (t.title == title && t.body == body)
            return false;
    recent.push_back({title, body, QDeadlineTimer(repeatAfterMs)});
    return true;
}

void showInTray(const QString& title, const QString& body) {
    if (fallback())
        fallback()(title, body);
}

// The call is not waited for: a slow or stuck notification daemon must not stall the app. A
// service that is installed but not running is started by the bus; when there is none, or it
// does not answer, the tray shows the notice instead.
void notify(const QString& title, const QString& body, QDBusConnection bus) {
    if (!bus.isConnected()) {
        showInTray(title, body);
        return;
    }
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    call << QCoreApplication::applicationName() << uint(0) << desktopEntry << title << body << QStringList() << hints
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, replyTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, title, body] {
        if (watcher->isError())
            showInTray(title, body);
        watcher->deleteLater();
    });
}

}  // namespace

void UserNotice::show(const QString& title, const QString& body) {
    if (!QCoreApplication::instance())
        return;
    if (!isMainThread()) {
        postToMain([title, body] { show(title, body); });
        return;
    }
    if (firstTelling(title, body))
        notify(title, body, QDBusConnection::sessionBus());
}

void UserNotice::setFallback(Fallback f) {
    fallback() = std::move(f);
}

}  // namespace platform
