#include "platform/desktop/Workspace.h"
#include "support/WaitUntil.h"

#include <QDBusContext>
#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Stands in for the desktop's file manager on a private session bus, and catches the folders the
// desktop would open. A failing one answers every call with an error.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
    QList<QUrl> opened;
    bool failing = false;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        shown << uris << QStringList{startupId};
        if (failing)
            sendErrorReply(QDBusError::Failed, QStringLiteral("No such item"));
    }
    void open(const QUrl& url) { opened << url; }
};

// A session bus of the test's own. It starts no services, so no installed file manager answers
// in the fake's place.
struct OwnSessionBus {
    QTemporaryDir folder;
    QProcess daemon;
    QString address;
    bool start() {
        QFile config(folder.filePath("bus.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + folder.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        daemon.start("dbus-daemon", {"--config-file=" + config.fileName(), "--print-address=1", "--nofork"});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
            return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~OwnSessionBus() {
        daemon.terminate();
        daemon.waitForFinished(3000);
    }
};

}  // namespace

// A file manager that answers with an error, or none on the bus at all: the folder that holds the
// file opens instead.
TEST(WorkspaceIntegrationTest, RevealOpensTheFolderWhenTheFileManagerFailsOrIsMissing) {
    OwnSessionBus bus;
    ASSERT_TRUE(bus.start());
    FakeFileManager fileManager;
    fileManager.failing = true;
    QDesktopServices::setUrlHandler("file", &fileManager, "open");
    {
        QDBusConnection caller = QDBusConnection::connectToBus(bus.address, "reveal-caller");
        ASSERT_TRUE(caller.isConnected());
        // Nothing owns the file manager's name yet.
        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/Zentola 1.png", caller));
        EXPECT_TRUE(waitUntil([&] { return !fileManager.opened.isEmpty(); }));
        EXPECT_EQ(fileManager.opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/shots")});

        QDBusConnection service = QDBusConnection::connectToBus(bus.address, "reveal-file-manager");
        ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
        ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
        fileManager.opened.clear();
        EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/other/Zentola 2.png", caller));
        EXPECT_TRUE(waitUntil([&] { return !fileManager.opened.isEmpty(); }));
        EXPECT_EQ(fileManager.shown, (QList<QStringList>{{"file:///tmp/other/Zentola%202.png"}, {""}}));
        EXPECT_EQ(fileManager.opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/other")});
        service.unregisterObject("/org/freedesktop/FileManager1");
    }
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("reveal-caller");
    QDBusConnection::disconnectFromBus("reveal-file-manager");
}

TEST(WorkspaceIntegrationTest, RevealAsksTheFileManagerOnTheBusWithoutWaitingForIt) {
    OwnSessionBus bus;
    ASSERT_TRUE(bus.start());
    const QString address = bus.address;
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
}

#include "WorkspaceIntegrationTest.moc"
