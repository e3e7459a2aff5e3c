#include "FakeFileManager.h"
#include "platform/desktop/Workspace.h"
#include "support/WaitUntil.h"

#include <QDesktopServices>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Catches the URLs the desktop would open.
class FolderCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void handle(const QUrl& url) { urls << url; }
};

}  // namespace

TEST(WorkspaceIntegrationTest, RevealAsksTheFileManagerWithoutWaitingAndFallsBackToTheFolder) {
    QProcess daemon;
    daemon.start("dbus-daemon", {"--config-file=/usr/share/dbus-1/session.conf", "--print-address=1", "--nofork"});
    ASSERT_TRUE(daemon.waitForStarted(5000));
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
    FolderCatcher folders;
    QDesktopServices::setUrlHandler("file", &folders, "handle");

    {
        QDBusConnection caller = QDBusConnection::connectToBus(address, "workspace-caller");
        ASSERT_TRUE(caller.isConnected());

        // No file manager on the bus: the folder opens.
        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/Zentola 1.png", caller));
        EXPECT_TRUE(waitUntil([&] { return !folders.urls.isEmpty(); }));
        EXPECT_EQ(folders.urls, QList<QUrl>{QUrl::fromLocalFile("/tmp/shots")});
        folders.urls.clear();

        // A file manager that answers only once this thread runs its loop again: the reveal has
        // returned by then, and no folder opens.
        QDBusConnection service = QDBusConnection::connectToBus(address, "workspace-file-manager");
        FakeFileManager fileManager;
        ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
        ASSERT_TRUE(
            service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/Zentola 1.png", caller));
        EXPECT_TRUE(fileManager.shown.isEmpty());
        ASSERT_TRUE(waitUntil([&] { return fileManager.shown.size() == 1; }));
        EXPECT_EQ(fileManager.shown[0], QStringList{"file:///tmp/shots/Zentola%201.png"});
        EXPECT_EQ(fileManager.startupIds, QStringList{""});
        spinFor(100);
        EXPECT_TRUE(folders.urls.isEmpty());
        service.unregisterObject("/org/freedesktop/FileManager1");
    }
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("workspace-caller");
    QDBusConnection::disconnectFromBus("workspace-file-manager");
    daemon.terminate();
    daemon.waitForFinished(3000);
}

#include "WorkspaceIntegrationTest.moc"
