#include "platform/desktop/Workspace.h"

#include "UrlCatcher.h"

#include <QDesktopServices>

#include <gtest/gtest.h>

TEST(WorkspaceTest, RevealWithoutAFileManagerOpensTheFolder) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "handle");
    const QDBusConnection noBus = QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "workspace-test");
    EXPECT_TRUE(platform::Workspace::revealInFileManager("/tmp/shots/a b.png", noBus));
    EXPECT_TRUE(platform::Workspace::openFile("/tmp/shots/a b.png"));
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("workspace-test");
    EXPECT_EQ(catcher.urls, (QList<QUrl>{QUrl::fromLocalFile("/tmp/shots"), QUrl::fromLocalFile("/tmp/shots/a b.png")}));
    EXPECT_FALSE(platform::Workspace::open(QUrl()));
}
