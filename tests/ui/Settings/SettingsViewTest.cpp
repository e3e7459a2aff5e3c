#include "SettingsFixture.h"

#include "Features/Settings/AboutSettingsContent.h"
#include "Features/Settings/GeneralSettingsContent.h"
#include "Features/Settings/ScreenshotSettingsContent.h"
#include "Features/Settings/SettingsWindowController.h"
#include "Features/Settings/VideoSettingsContent.h"

#include <QApplication>
#include <QListWidget>
#include <QTimer>

using namespace zentola;

namespace {

class SettingsWindow : public SettingsFixture {};

TEST_F(SettingsWindow, SidebarListsTheFiveTabsAndShowsEachPage) {
    SettingsView view(dependencies());
    EXPECT_EQ(view.windowTitle(), "Settings");
    EXPECT_EQ(view.minimumSize(), QSize(650, 450));
    QStringList labels;
    for (int i = 0; i < view.sidebar()->count(); ++i)
        labels << view.sidebar()->item(i)->text();
    EXPECT_EQ(labels, (QStringList{"General", "Screenshots", "Video", "Shortcuts", "About"}));
    EXPECT_NE(qobject_cast<GeneralSettingsContent*>(view.content()), nullptr);

    view.sidebar()->setCurrentRow(2);
    EXPECT_EQ(view.selectedTab(), SettingsTab::video);
    EXPECT_NE(qobject_cast<VideoSettingsContent*>(view.content()), nullptr);

    view.sidebar()->clearSelection();  // a click on empty sidebar space
    EXPECT_EQ(view.selectedTab(), SettingsTab::general);
    EXPECT_NE(qobject_cast<GeneralSettingsContent*>(view.content()), nullptr);
    EXPECT_EQ(view.sidebar()->currentRow(), 0);
}

TEST_F(SettingsWindow, EveryVisitOfATabReadsTheStoreAfresh) {
    SettingsView view(dependencies());
    view.sidebar()->setCurrentRow(1);
    persistence->setSaveFormat(PersistenceManager::ImageFormat::webp);
    view.sidebar()->setCurrentRow(0);
    view.sidebar()->setCurrentRow(1);
    auto* page = qobject_cast<ScreenshotSettingsContent*>(view.content());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->formatPicker()->currentText(), "WebP");
}

TEST_F(SettingsWindow, SelectAboutNotificationSwitchesAnOpenWindow) {
    SettingsView view(dependencies());
    view.sidebar()->setCurrentRow(3);
    platform::NotificationCenter::defaultCenter().post(SettingsView::selectAboutTab);
    settle();
    EXPECT_EQ(view.selectedTab(), SettingsTab::about);
    EXPECT_NE(qobject_cast<AboutSettingsContent*>(view.content()), nullptr);
}

TEST_F(SettingsWindow, ControllerOpensOneWindowAndJumpsToAbout) {
    auto& controller = SettingsWindowController::shared();
    controller.setDependencies(dependencies());
    controller.show();
    SettingsView* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    controller.show();
    EXPECT_EQ(controller.window(), window);
    window->setWindowState(Qt::WindowMinimized);
    controller.show();  // brings a minimised window back rather than leaving it out of sight
    EXPECT_EQ(controller.window(), window);
    EXPECT_FALSE(window->isMinimized());

    controller.showAbout();
    EXPECT_EQ(window->selectedTab(), SettingsTab::general);  // a moment later, not at once
    bool done = false;
    QTimer::singleShot(300, [&] { done = true; });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    settle();
    EXPECT_EQ(window->selectedTab(), SettingsTab::about);
    EXPECT_EQ(controller.window(), window);

    window->close();  // closing destroys it; the next show makes a new one
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller.window(), nullptr);
    controller.show();
    ASSERT_NE(controller.window(), nullptr);
    EXPECT_EQ(controller.window()->selectedTab(), SettingsTab::general);
    controller.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    controller.setDependencies(SettingsView::Dependencies::system());  // drop the ones over this fixture
}

}  // namespace
