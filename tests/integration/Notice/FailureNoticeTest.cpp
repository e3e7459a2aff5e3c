// Failures the user must know of are told where a tray app's user looks: the desktop's notification
// service, here on a session bus of the test's own, else the tray icon's message under a real tray
// host. Each with its reason, once, and a screenshot that was not saved is never announced as taken.
#include "NotificationService.h"

#include "Features/Capture/CaptureManager.h"
#include "Features/MenuBar/MenuBarController.h"
#include "integration/Recording/RecorderHarness.h"
#include "platform/desktop/UserNotice.h"
#include "support/LiveDesktop.h"
#include "support/ProgramHome.h"
#include "support/SmallDisk.h"
#include "support/Printed.h"
#include "support/RunTask.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>

using namespace zentola;
using notice_test::NotificationService;
using platform::UserNotice;

namespace {

notice_test::PrivateSessionBus* privateBus = nullptr;

// Texts as one readable line, for comparing and printing.
std::string joined(const QStringList& texts) {
    return texts.join(" ; ").toStdString();
}

// Up before any test reaches the session bus, so every connection to it is to the test's own.
class SessionBusEnvironment : public testing::Environment {
    void SetUp() override { privateBus = new notice_test::PrivateSessionBus; }
    void TearDown() override { delete privateBus; }
};
const auto* const sessionBusEnvironment = testing::AddGlobalTestEnvironment(new SessionBusEnvironment);

// A program the test started, ended with it by SIGTERM.
struct EndsWithTest {
    QProcess& process;
    ~EndsWithTest() {
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(20000);
    }
};

class FailureNoticeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(privateBus->address().isEmpty()) << "dbus-daemon did not start";
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "the session bus was reached before the test's own was up";
        UserNotice::setFallback([this](const QString& title, const QString& body) {
            tray.push_back(title + "|" + body);
            return true;
        });
    }
    void TearDown() override { UserNotice::setFallback({}); }

    // The notices the service has received, as "title|body".
    QStringList told() const {
        QStringList out;
        for (const auto& n : service->received)
            out << n.summary + "|" + n.body;
        return out;
    }
    // Waits for the count of notices to reach n, then long enough for one more to have come.
    QStringList toldOnceSettled(qsizetype n) {
        waitUntil([&] { return told().size() >= n; }, 10000);
        spinFor(300);
        return told();
    }

    QTemporaryDir dir;
    std::unique_ptr<NotificationService> service = std::make_unique<NotificationService>(privateBus->address());
    QStringList tray;
};

TEST_F(FailureNoticeTest, EachNoticeReachesTheServiceOnce_TheTrayWhenNoneAnswers_NeitherIsWaitedFor) {
    ASSERT_TRUE(service->owned());
    QGuiApplication::setDesktopFileName("com.zentola.Zentola");
    UserNotice::show("Recording stopped", "One reason");
    std::thread([] { UserNotice::show("Recording stopped", "One reason"); }).join();
    UserNotice::show("Recording stopped", "One reason");
    UserNotice::show("Recording stopped", "Another reason");
    EXPECT_EQ(joined(toldOnceSettled(2)), "Recording stopped|One reason ; Recording stopped|Another reason");
    ASSERT_FALSE(service->received.empty());
    EXPECT_EQ(service->received[0].hints.value("desktop-entry").toString().toStdString(), "com.zentola.Zentola");
    EXPECT_EQ(service->received[0].icon.toStdString(), "com.zentola.Zentola");
    EXPECT_EQ(joined(tray), "");

    // A service that never answers: the event loop goes on, and the tray shows the notice in the end.
    service->hangs = true;
    QStringList order;
    QTimer::singleShot(0, [&] { order << "event loop"; });
    UserNotice::show("Screenshot not saved", "Nobody answers");
    ASSERT_TRUE(waitUntil([&] { return !tray.isEmpty(); }, 15000));
    order << tray;
    EXPECT_EQ(joined(order), "event loop ; Screenshot not saved|Nobody answers");
    EXPECT_EQ(told().size(), 3) << "the service got it too";
    // The first notice has long gone from the screen: the same failure again is told again.
    service->hangs = false;
    UserNotice::show("Recording stopped", "One reason");
    EXPECT_TRUE(waitUntil([&] { return told().size() == 4; }, 10000)) << joined(told());
}

// With no notification service at all, under a real tray host (trayer), the notice is the tray
// icon's own message, shown by the icon.
TEST_F(FailureNoticeTest, WithoutANotificationServiceTheTrayIconShowsTheNotice) {
    service.reset();
    QProcess trayer;
    trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                            "--heighttype", "pixel", "--height", "24"});
    ASSERT_TRUE(trayer.waitForStarted());
    const EndsWithTest ends{trayer};
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    MenuBarController menuBar([] {}, [] {}, [] {}, [] {});
    QSystemTrayIcon* icon = menuBar.statusItem();
    // The panel: 100 x 24 at the top right of the first monitor.
    const QRect panel(1820, 0, 100, 24);
    ASSERT_TRUE(waitUntil([&] { return panel.contains(icon->geometry()) && !icon->geometry().isEmpty(); }, 10000))
        << "the tray never took the icon";

    const QString body = "Cannot write to " + dir.path() + ": No space left on device";
    UserNotice::show("Screenshot not saved", body);
    QWidget* balloon = nullptr;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && QByteArray(w->metaObject()->className()) == "QBalloonTip")
                    balloon = w;
            return balloon != nullptr;
        },
        10000));
    QStringList texts;
    for (const QLabel* label : balloon->findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Screenshot not saved")) << texts.join("; ").toStdString();
    EXPECT_TRUE(texts.join("\n").contains(body)) << texts.join("; ").toStdString();
    const QRect at = balloon->geometry(), from = icon->geometry();
    EXPECT_TRUE(at.adjusted(-40, -40, 40, 40).intersects(from))
        << "the message points at the icon: " << at.x() << "," << at.y() << " " << at.width() << "x" << at.height()
        << " from " << from.x() << "," << from.y() << " " << from.width() << "x" << from.height();
}

// A full disk: no shutter, no flash, no card; the image goes to the clipboard as the settings say,
// without a file; the user is told why, once; the writer's lines stay.
// Once the disk has room the screenshot is saved and announced, and nothing is told.
TEST_F(FailureNoticeTest, AScreenshotThatCannotBeSavedIsToldWithItsReasonAndNeverAnnounced) {
    const QString folder = dir.path() + "/disk";
    SmallDisk disk(folder, "size=1m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << disk.reason();
    platform::DefaultsStore store(dir.path() + "/defaults.json");
    PersistenceManager settings(store);
    settings.setPlaySounds(true);
    settings.setShowFlash(true);
    settings.setSaveFormat(PersistenceManager::ImageFormat::png);
    QStringList effects;
    std::optional<QString> copiedFile;
    CaptureManager::Environment env = CaptureManager::Environment::system();
    env.persistence = [&]() -> PersistenceManager& { return settings; };
    env.copyImageWithFile = [&](const platform::BitmapRef&, const std::optional<QString>& file) {
        effects << "clipboard", copiedFile = file;
    };
    env.playShutterSound = [&] { effects << "shutter"; };
    env.showFlash = [&](platform::ScreenRef) -> QCoro::Task<void> {
        effects << "flash";
        co_return;
    };
    env.showThumbnail = [&](const CapturedImage&) { effects << "card"; };
    CaptureManager manager(env);
    auto capture = [&] {
        CapturedStdout printed;
        testing_support::runTask(manager.performCaptureWorkflow(CaptureMode::screen, {}, {}, nullptr));
        return printed.text();
    };

    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(folder));
    settings.setCopyToClipboard(true);
    disk.fill();
    std::string log = capture();
    EXPECT_EQ(joined(effects), "clipboard");
    EXPECT_EQ(copiedFile, std::nullopt) << "a file that does not exist was offered";
    EXPECT_EQ(joined(toldOnceSettled(1)),
              joined({"Screenshot not saved|Cannot write to " + folder + ": No space left on device\nThe image is on the clipboard."}));
    EXPECT_EQ(log.rfind("Failed to finalize image destination (" + folder.toStdString() + "/Screenshot ", 0), 0u) << log;
    EXPECT_NE(log.find(": No space left on device)\n"), std::string::npos) << log;
    EXPECT_EQ(joined(QDir(folder).entryList(QDir::Files | QDir::Hidden)), "filler");

    // Again, with nothing copied: a notice of its own.
    effects.clear();
    settings.setCopyToClipboard(false);
    log = capture();
    EXPECT_EQ(joined(effects), "");
    const QStringList notices = toldOnceSettled(2);
    ASSERT_EQ(notices.size(), 2) << notices.join("; ").toStdString();
    EXPECT_EQ(notices[1].toStdString(), ("Screenshot not saved|Cannot write to " + folder + ": No space left on device").toStdString());

    effects.clear();
    disk.empty();
    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(folder));
    capture();
    EXPECT_EQ(joined(effects), "shutter ; flash ; card");
    EXPECT_EQ(toldOnceSettled(2).size(), 2) << joined(told());
}

// On a small file system: a start refused for want of room is told, and so is a recording that the
// disk filling up ended, with what was kept of it, once.
TEST_F(FailureNoticeTest, ARecordingEndedByAFullDiskIsToldOnceWithWhatWasKept) {
    const QString folder = dir.path() + "/disk";
    SmallDisk disk(folder, "size=16m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << disk.reason();
    RecorderHarness r(folder);
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PersistenceManager::AudioOption::none);
    r.settings().setVideoContainer(PersistenceManager::VideoContainer::mp4);
    const SelectionRect rect{QPointF(0, 0), QSizeF(320, 240), 0};
    disk.fill();
    EXPECT_FALSE(r.start(CaptureMode::rect, rect));
    QStringList notices = toldOnceSettled(1);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].startsWith("Recording not started|")) << notices[0].toStdString();
    EXPECT_TRUE(notices[0].endsWith(": No space left on device")) << notices[0].toStdString();
    disk.empty();

    ASSERT_TRUE(r.start(CaptureMode::rect, rect)) << r.error().toStdString();
    const QString path = r.manager().outputURL()->toLocalFile();
    // Some of the movie on disk before it fills.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(path).size() > 0; }, 10000));
    disk.fill();
    ASSERT_TRUE(waitUntil([&] { return r.manager().state() == RecordingState::idle; }, 15000));
    notices = toldOnceSettled(2);
    ASSERT_EQ(notices.size(), 2) << notices.join("; ").toStdString();
    EXPECT_TRUE(notices[1].startsWith("Recording stopped|")) << notices[1].toStdString();
    EXPECT_TRUE(notices[1].contains("No space left on device\n")) << notices[1].toStdString();
    EXPECT_TRUE(notices[1].endsWith("\nWhat was recorded until then is kept in " + QFileInfo(path).fileName() + "."))
        << notices[1].toStdString();
}

// A stop the user asked for tells nothing. A window that closes ends its recording, and so does a
// display turned off: each is told with the reason and where the movie is.
TEST_F(FailureNoticeTest, ARecordingWhoseWindowOrDisplayWentAwayIsToldOnce_AStopByTheUserIsNot) {
    live::Windows windows;
    WindowInfo window;
    window.id = windows.createManaged(300, 200, 320, 240, 0x2080c0);
    window.frame = QRectF(300, 200, 320, 240);
    RecorderHarness r(dir.path(), true);
    r.settings().setRecordAtRetina(false);
    r.settings().setAudioOption(PersistenceManager::AudioOption::none);
    const auto recordUntilWritten = [&](CaptureMode mode, std::optional<WindowInfo> w, platform::ScreenRef on) {
        const bool started = r.start(mode, {}, w, on);
        EXPECT_TRUE(started) << r.error().toStdString();
        const QString path = started ? r.manager().outputURL()->toLocalFile() : QString();
        EXPECT_TRUE(waitUntil([&] { return QFileInfo(path).size() > 0; }, 10000));
        return QFileInfo(path).fileName();
    };
    const auto endedByItself = [&] { return waitUntil([&] { return r.manager().state() == RecordingState::idle; }, 15000); };

    recordUntilWritten(CaptureMode::window, window, nullptr);
    ASSERT_TRUE(r.stop());
    EXPECT_EQ(joined(toldOnceSettled(0)), "");

    QString name = recordUntilWritten(CaptureMode::window, window, nullptr);
    windows.destroy(window.id);
    ASSERT_TRUE(endedByItself());
    EXPECT_EQ(joined(toldOnceSettled(1)), joined({"Recording stopped|The window was closed\nThe recording is saved as " + name + "."}));

    // The second display of a server of the test's own (the displays known stay the shared server's
    // two, at the same places): turned off, the screen shrinks to the first.
    live::OwnXorgServer x(dir.path());
    ASSERT_TRUE(x.start());
    const auto screens = platform::Screen::screens();
    ASSERT_GE(screens.size(), 2u);
    name = recordUntilWritten(CaptureMode::screen, std::nullopt, screens[1]);
    ASSERT_TRUE(live::OwnXorgServer::xrandr({"--output", "DUMMY1", "--off"}));
    ASSERT_TRUE(endedByItself());
    const QStringList notices = toldOnceSettled(2);
    ASSERT_EQ(notices.size(), 2) << joined(notices);
    EXPECT_EQ(notices[1].toStdString(),
              ("Recording stopped|The capture area is outside the screen\nThe recording is saved as " + name + ".").toStdString());
}

// The real program, its folders on a full disk and the desktop's notification service on its
// session bus: the shortcuts' screenshot and quick record are each told, as the program says them.
TEST_F(FailureNoticeTest, TheProgramTellsTheDesktopOfAScreenshotAndARecordingThatFoundNoRoom) {
    const QString disk = dir.path() + "/disk";
    SmallDisk small(disk, "size=1m");
    if (!small.mounted())
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << small.reason();
    QDir(disk).mkpath("shots");
    QDir(disk).mkpath("videos");
    small.fill();
    const testing_support::ProgramHome home(dir.path());
    ASSERT_TRUE(home.seed(QJsonObject{{"zentola.screenshotFolderBookmark", disk + "/shots"},
                                      {"zentola.videoFolderBookmark", disk + "/videos"},
                                      {"zentola.playSounds", false}}));
    QProcess app;
    home.start(app, QStringLiteral(ZENTOLA_APP_PATH));
    const EndsWithTest ends{app};
    // Start-up ends by storing the default shortcuts; from then on the keys are grabbed.
    ASSERT_TRUE(waitUntil([&] { return home.settings().contains("GlobalShortcuts_quickRecord"); }, 15000)) << home.log();

    ASSERT_EQ(QProcess::execute("xdotool", {"key", "--clearmodifiers", "ctrl+shift+7"}), 0);
    ASSERT_TRUE(waitUntil([&] { return !told().isEmpty(); }, 15000)) << home.log();
    EXPECT_EQ(joined(told()), joined({"Screenshot not saved|Cannot write to " + disk +
                                      "/shots: No space left on device\nThe image is on the clipboard."}));
    ASSERT_FALSE(service->received.empty());
    EXPECT_EQ(service->received[0].appName.toStdString(), "Zentola");
    EXPECT_NE(home.log().find("Failed to finalize image destination ("), std::string::npos) << home.log();

    ASSERT_EQ(QProcess::execute("xdotool", {"key", "--clearmodifiers", "ctrl+shift+8"}), 0);
    ASSERT_TRUE(waitUntil([&] { return told().size() >= 2; }, 15000)) << home.log();
    EXPECT_EQ(told().value(1).toStdString(),
              ("Recording not started|Cannot record in " + disk + "/videos: No space left on device").toStdString());
    EXPECT_NE(home.log().find("[Zentola] Quick record failed: "), std::string::npos) << home.log();
}

}  // namespace
