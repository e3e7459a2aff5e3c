#include "FakeFileManager.h"
#include "platform/desktop/Workspace.h"

#include <QProcess>

#include <gtest/gtest.h>

TEST(WorkspaceIntegrationTest, RevealAsksTheFileManagerOnTheSessionBus) {
    QProcess daemon;
    daemon.start("dbus-daemon", {"--config-file=/usr/share/dbus-1/session.conf", "--print-address=1", "--nofork"});
    ASSERT_TRUE(daemon.waitForStarted(5000));
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());

    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, "workspace-integration");
        ASSERT_TRUE(bus.isConnected());
        FakeFileManager fileManager;
        ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
        ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));

        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/Zentola 1.png", bus));
        ASSERT_EQ(fileManager.shown.size(), 1);
        EXPECT_EQ(fileManager.shown[0], QStringList{"file:///tmp/shots/Zentola%201.png"});
        EXPECT_EQ(fileManager.startupIds, QStringList{""});
        bus.unregisterObject("/org/freedesktop/FileManager1");
    }
    QDBusConnection::disconnectFromBus("workspace-integration");
    daemon.terminate();
    daemon.waitForFinished(3000);
}
