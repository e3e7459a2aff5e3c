#pragma once

// A desktop notification service of the test's own: a private session bus (dbus-daemon) that this
// process's session bus connection goes to, and the org.freedesktop.Notifications service on it,
// which keeps every notice it is sent.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <csignal>
#include <vector>

namespace notice_test {

struct Notice {
    QString appName, icon, summary, body;
    QVariantMap hints;
};

// A session bus of its own, named by DBUS_SESSION_BUS_ADDRESS for the rest of the process: Qt's
// session bus connection is made once, at its first use, so it must exist before then. No service
// on it is started on demand.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        QFile config(dir_.filePath("bus.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                      "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig><type>session</type><listen>unix:path=" +
                      dir_.filePath("bus") +
                      "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n")
                         .toUtf8());
        config.close();
        daemon_.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
        if (daemon_.waitForReadyRead(10000))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        if (!address_.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    ~PrivateSessionBus() {
        if (daemon_.state() != QProcess::NotRunning) {
            ::kill(pid_t(daemon_.processId()), SIGTERM);
            daemon_.waitForFinished(5000);
        }
    }
    const QString& address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

// Owns org.freedesktop.Notifications on the bus while it lives; answers at once, or, when told to
// hang, never.
class NotificationService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationService(const QString& address)
        : bus_(QDBusConnection::connectToBus(address, QStringLiteral("notification-service"))) {
        bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
        owned_ = bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~NotificationService() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-service"));
    }
    bool owned() const { return owned_; }

    std::vector<Notice> received;
    bool hangs = false;

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int) {
        received.push_back({appName, icon, summary, body, hints});
        if (hangs)
            setDelayedReply(true);
        return uint(received.size());
    }

private:
    QDBusConnection bus_;
    bool owned_ = false;
};

}  // namespace notice_test
