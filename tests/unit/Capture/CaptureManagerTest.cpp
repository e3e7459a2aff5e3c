#include "Features/Capture/CaptureManager.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"
#include "unit/Capture/FakeCaptureProvider.h"
#include "support/RunTask.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>

using namespace zentola;
using testing_support::runTask;
using Case = CaptureManager::CaptureErrorCase;
using platform::FakeScreenProvider;

namespace {

platform::ShareableDisplay shareable(quint32 id, QRect native, double scale) {
    return platform::ShareableDisplay{id, int(native.width() / scale), int(native.height() / scale), native, scale, {}};
}

class CaptureManagerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
    FakeScreenProvider::Installation screens = FakeScreenProvider::install();
    std::shared_ptr<FakeCaptureProvider> provider;
    std::vector<std::string> events;
    bool permission = true;
    int preflights = 0;
    std::optional<std::optional<QString>> clipboardPath;
    platform::BitmapRef clipboardImage;
    platform::ScreenRef flashScreen;
    std::optional<CapturedImage> thumbnail;
    std::function<void()> onClipboard, onSound;
    CaptureManager manager{environment()};

    void SetUp() override {
        settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(dir.path()));
        // A: 1512 x 982 points at scale 2; B: to its right at scale 1; C: no number.
        screens->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 3024, 1964), 11, 2.0),
                              FakeScreenProvider::display("B", QRect(3024, 0, 1920, 1080), 22),
                              FakeScreenProvider::display("C", QRect(4944, 0, 800, 600), 0)});
        provider = std::make_shared<FakeCaptureProvider>(&events);
        provider->content.displays = {shareable(11, QRect(0, 0, 3024, 1964), 2.0),
                                      shareable(22, QRect(3024, 0, 1920, 1080), 1.0)};
        const platform::RunningApplication own{"com.zentola.Zentola", "zentola", 100}, other{"org.example.Editor", "editor", 200};
        provider->content.applications = {other, own, {"com.zentola.Zentola", "zentola-helper", 101}};
        platform::ShareableWindow w;
        w.windowID = 501;
        w.owningApplication = other;
        provider->content.windows = {w};
        platform::ScreenCaptureProvider::install(provider);
    }
    void TearDown() override { platform::ScreenCaptureProvider::install(nullptr); }

    CaptureManager::Environment environment() {
        CaptureManager::Environment e;
        e.persistence = [this]() -> PersistenceManager& { return settings; };
        e.preflightScreenCaptureAccess = [this] { return ++preflights, permission; };
        e.bundleIdentifier = [] { return QStringLiteral("com.zentola.Zentola"); };
        e.copyImageWithFile = [this](const platform::BitmapRef& image, const std::optional<QString>& path) {
            events.push_back("clipboard"), clipboardImage = image, clipboardPath = path;
            if (onClipboard)
                onClipboard();
        };
        e.playShutterSound = [this] {
            events.push_back("sound");
            if (onSound)
                onSound();
        };
        e.showFlash = [this](platform::ScreenRef screen) -> QCoro::Task<void> {
            events.push_back("flash-start"), flashScreen = screen;
            co_await QCoro::sleepFor(std::chrono::milliseconds(20));
            events.push_back("flash-end");
        };
        e.showThumbnail = [this](const CapturedImage& image) { events.push_back("thumbnail"), thumbnail = image; };
        e.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        return e;
    }

    platform::ScreenRef screen(int i) const { return screens->list.at(i); }
    void take(CaptureMode mode, std::optional<SelectionRect> rect = {}, std::optional<WindowInfo> window = {},
              platform::ScreenRef on = nullptr) {
        runTask(manager.performCaptureWorkflow(mode, rect, window, on));
    }
    // The case of the CaptureError the capture throws.
    Case refused(CaptureMode mode, std::optional<SelectionRect> rect = {}, std::optional<WindowInfo> window = {},
                 platform::ScreenRef on = nullptr) {
        try {
            take(mode, rect, window, on);
        } catch (const CaptureManager::CaptureError& e) {
            return e.errorCase();
        }
        ADD_FAILURE() << "no CaptureError thrown";
        return Case::captureFailed;
    }
    QStringList saved() const { return QDir(dir.path()).entryList({"*.png", ".*"}, QDir::Files | QDir::Hidden); }
};

WindowInfo editorWindow(quint32 id) {
    return WindowInfo{id, QStringLiteral("Notes.txt"), QStringLiteral("Editor"), 200, QRectF(100, 100, 800, 600), 0, true};
}

}  // namespace

TEST_F(CaptureManagerTest, PreconditionsComeInOrder_WindowModeSkipsThePreflightAndRemembersTheWindow) {
    permission = false;
    const SelectionRect rect{QPointF(10, 10), QSizeF(100, 100), 11};
    EXPECT_EQ(refused(CaptureMode::rect), Case::invalidRect);  // before the missing permission
    EXPECT_EQ(refused(CaptureMode::rect, rect), Case::noPermission);
    EXPECT_EQ(refused(CaptureMode::screen), Case::noPermission);
    EXPECT_EQ(refused(CaptureMode::window), Case::windowNotFound);
    EXPECT_TRUE(events.empty());
    preflights = 0;
    EXPECT_EQ(refused(CaptureMode::window, {}, editorWindow(999)), Case::windowNotFound);
    EXPECT_EQ(preflights, 0);
    EXPECT_EQ(events, std::vector<std::string>{"content"});
    EXPECT_EQ(store.stringForKey("zentola.lastWindowOwnerName"), QStringLiteral("Editor"));
    EXPECT_EQ(store.stringForKey("zentola.lastWindowTitle"), QStringLiteral("Notes.txt"));
    EXPECT_TRUE(saved().isEmpty());
}

TEST_F(CaptureManagerTest, DisplaysAreTakenAtTheirScaleWithoutOurWindows_WindowsAtTwiceTheirPoints) {
    take(CaptureMode::screen);
    take(CaptureMode::window, {}, editorWindow(501), screen(1));
    ASSERT_EQ(provider->captures.size(), 2u);
    const auto& [display, displayConfig] = provider->captures[0];
    EXPECT_EQ(display.display().displayID, 11u);  // no screen given: the main display
    std::vector<qint32> excluded;
    for (const auto& app : display.excludedApplications())
        excluded.push_back(app.processID);
    EXPECT_EQ(excluded, (std::vector<qint32>{100, 101}));
    EXPECT_TRUE(displayConfig.width == 3024 && displayConfig.height == 1964 && !displayConfig.showsCursor);
    EXPECT_EQ(displayConfig.pixelFormat, 0x42475241u);
    EXPECT_EQ(provider->queries.front(), std::make_pair(false, true));
    const auto& [window, windowConfig] = provider->captures[1];
    EXPECT_EQ(window.kind(), platform::ContentFilter::Kind::desktopIndependentWindow);
    EXPECT_EQ(window.window().windowID, 501u);
    // B has scale 1; the window is still taken at 2x, and the target display flashes.
    EXPECT_TRUE(windowConfig.width == 1600 && windowConfig.height == 1200 && windowConfig.sourceRect.isNull());
    EXPECT_EQ(flashScreen, screen(1));
    EXPECT_EQ(thumbnail->sourceScreen, nullptr);
    EXPECT_EQ(QImage(dir.filePath("Screenshot 2025-03-14 at 09.26.53.png")).size(), QSize(3024, 1964));
    EXPECT_EQ(saved().size(), 2);
}

TEST_F(CaptureManagerTest, ARectangleIsTakenOnTheTargetDisplayAsFarAsItLiesOnIt) {
    const double huge = 1e300;
    const struct {
        SelectionRect rect;
        QRectF source;
        qint64 width, height;
    } cases[] = {
        // Drawn on B, taken on A with its own coordinates; dragged up and left, the same area.
        {{QPointF(10, 20), QSizeF(300.7, 200.2), 22}, {10, 20, 300.7, 200.2}, 601, 400},
        {{QPointF(310.7, 220.2), QSizeF(-300.7, -200.2), 11}, {10, 20, 300.7, 200.2}, 601, 400},
        // Reaching past A's 1512 x 982 points, or wildly so after a hand edit: the part on A.
        {{QPointF(1412, 900), QSizeF(300, 300), 11}, {1412, 900, 100, 82}, 200, 164},
        {{QPointF(-50, -huge), QSizeF(huge, 2 * huge), 11}, {0, 0, 1512, 982}, 3024, 1964},
    };
    for (const auto& c : cases) {
        provider->captures.clear();
        take(CaptureMode::rect, c.rect, {}, screen(0));
        ASSERT_EQ(provider->captures.size(), 1u);
        const auto& [filter, config] = provider->captures[0];
        EXPECT_EQ(filter.display().displayID, 11u);
        EXPECT_NEAR((config.sourceRect.topLeft() - c.source.topLeft()).manhattanLength(), 0, 1e-9);
        EXPECT_NEAR(config.sourceRect.width(), c.source.width(), 1e-9);
        EXPECT_NEAR(config.sourceRect.height(), c.source.height(), 1e-9);
        EXPECT_TRUE(config.width == c.width && config.height == c.height) << config.width << "x" << config.height;
        EXPECT_TRUE(thumbnail->mode == CaptureMode::rect && thumbnail->sourceScreen == screen(0));
    }
    // Nothing of it on the display, or less than a pixel: refused without a grab.
    provider->captures.clear();
    for (const SelectionRect& off : {SelectionRect{QPointF(1600, 10), QSizeF(100, 100), 11},
                                     SelectionRect{QPointF(10, -500), QSizeF(100, 400), 11},
                                     SelectionRect{QPointF(10, 20), QSizeF(0.2, 200), 11},
                                     SelectionRect{QPointF(std::nan(""), 20), QSizeF(10, 200), 11}})
        EXPECT_EQ(refused(CaptureMode::rect, off, {}, screen(0)), Case::invalidRect);
    // C reports no number; B is gone from the shareable content.
    EXPECT_EQ(refused(CaptureMode::screen, {}, {}, screen(2)), Case::displayNotFound);
    EXPECT_EQ(refused(CaptureMode::rect, cases[0].rect, {}, screen(2)), Case::displayNotFound);
    provider->content.displays.pop_back();
    EXPECT_EQ(refused(CaptureMode::screen, {}, {}, screen(1)), Case::displayNotFound);
    EXPECT_TRUE(provider->captures.empty());
}

TEST_F(CaptureManagerTest, EffectsRunInOrderEachAsItsSwitchSaysWhenItsStepComes) {
    take(CaptureMode::screen, {}, {}, screen(1));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "clipboard", "sound", "flash-start", "flash-end",
                                                "thumbnail"}));
    EXPECT_EQ(**clipboardPath, dir.filePath("Screenshot 2025-03-14 at 09.26.53.png"));
    // One bitmap for the clipboard and the thumbnail.
    EXPECT_EQ(clipboardImage, thumbnail->image.bitmap());
    EXPECT_EQ(flashScreen, screen(1));

    const struct {
        bool clipboard, sound;
        std::function<void()> onClipboard, onSound;
        std::vector<std::string> events;
    } cases[] = {
        {true, true, [&] { settings.setPlaySounds(false); }, {}, {"clipboard", "flash-start", "flash-end", "thumbnail"}},
        {false, true, {}, [&] { settings.setShowFlash(false); }, {"sound", "thumbnail"}},
        {false, false, {}, {}, {"thumbnail"}},
    };
    for (const auto& c : cases) {
        settings.setCopyToClipboard(c.clipboard);
        settings.setPlaySounds(c.sound);
        onClipboard = c.onClipboard;
        onSound = c.onSound;
        events.clear();
        take(CaptureMode::screen);
        EXPECT_EQ(std::vector<std::string>(events.begin() + 2, events.end()), c.events);
    }
}

TEST_F(CaptureManagerTest, FailuresOfTheServiceOrTheSaveOrNoDisplayAtAll) {
    provider->captureError = platform::PlatformError("X11", 5, "Cannot read the screen's pixels");
    EXPECT_THROW(take(CaptureMode::screen), platform::PlatformError);
    provider->captureError.reset();
    provider->contentError = platform::PlatformError("X11", 1, "Cannot connect to the X server :9");
    EXPECT_THROW(take(CaptureMode::window, {}, editorWindow(501)), platform::PlatformError);
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "content"}));
    EXPECT_TRUE(saved().isEmpty());
    provider->contentError.reset();

    // Wider than any JPEG can be: the save fails, the capture does not.
    settings.setSaveFormat(PersistenceManager::ImageFormat::jpeg);
    WindowInfo wide = editorWindow(501);
    wide.frame = QRectF(0, 0, 40000, 1);
    take(CaptureMode::window, {}, wide);
    EXPECT_FALSE(*clipboardPath);
    EXPECT_FALSE(thumbnail->fileURL);
    EXPECT_TRUE(saved().isEmpty());

    screens->list.clear();
    EXPECT_EQ(refused(CaptureMode::screen), Case::displayNotFound);
    EXPECT_EQ(refused(CaptureMode::rect, SelectionRect{QPointF(10, 20), QSizeF(100, 100), 11}), Case::displayNotFound);
    settings.setSaveFormat(PersistenceManager::ImageFormat::png);
    take(CaptureMode::window, {}, editorWindow(501));
    EXPECT_EQ(flashScreen, nullptr);
    EXPECT_EQ(saved().size(), 1);
}
