#include "platform/desktop/Workspace.h"
#include "support/WaitUntil.h"

#include <QDesktopServices>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Stands in for the desktop's file manager on a private session bus, and catches the folders the
// desktop would open.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
    QList<QUrl> opened;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) { shown << uris << QStringList{startupId}; }
    void open(const QUrl& url) { opened << url; }
};

}  // namespace

TEST(WorkspaceIntegrationTest, RevealAsksTheFileManagerOnTheBusWithoutWaitingForIt) {
    QProcess daemon;
    daemon.start("dbus-daemon", {"--config-file=/usr/share/dbus-1/session.conf", "--print-address=1", "--nofork"});
    ASSERT_TRUE(daemon.waitForStarted(5000) && daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    FakeFileManager fileManager;
    QDesktopServices::setUrlHandler("file", &fileManager, "open");
    {
        QDBusConnection caller = QDBusConnection::connectToBus(address, "workspace-caller");
        ASSERT_TRUE(caller.isConnected());
        // A file manager that answers only once this thread runs its loop again: the reveal has
        // returned by then, and no folder opens.
        QDBusConnection service = QDBusConnection::connectToBus(address, "workspace-file-manager");
        ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
        ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/Zentola 1.png", caller));
        EXPECT_TRUE(fileManager.shown.isEmpty());
        ASSERT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
        EXPECT_EQ(fileManager.shown, (QList<QStringList>{{"file:///tmp/shots/Zentola%201.png"}, {""}}));
        spinFor(100);
        EXPECT_TRUE(fileManager.opened.isEmpty());
        service.unregisterObject("/org/freedesktop/FileManager1");
    }
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("workspace-caller");
    QDBusConnection::disconnectFromBus("workspace-file-manager");
    daemon.terminate();
    daemon.waitForFinished(3000);
}

#include "WorkspaceIntegrationTest.moc"
