#include "Features/Capture/CaptureManager.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "unit/Capture/FakeCaptureProvider.h"
#include "support/RunTask.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>

using namespace zentola;
using testing_support::runTask;
using Case = CaptureManager::CaptureErrorCase;

namespace {

class FakeScreens : public platform::Screen::Provider {
public:
    std::vector<platform::ScreenRef> screens() override { return list; }
    QPointF mouseLocation() override { return {}; }
    std::vector<platform::ScreenRef> list;
};

platform::Screen::Description display(const char* name, QRect native, double scale, std::optional<quint32> number,
                                      bool primary) {
    platform::Screen::Description d;
    d.name = name;
    d.nativeGeometry = native;
    d.nativeWorkArea = native;
    d.scaleFactor = scale;
    if (number)
        d.deviceDescription.insert("NSScreenNumber", QVariant::fromValue<quint32>(*number));
    d.primary = primary;
    return d;
}

platform::ShareableDisplay shareable(quint32 id, QRect native, double scale) {
    platform::ShareableDisplay d;
    d.displayID = id;
    d.nativeGeometry = native;
    d.scaleFactor = scale;
    d.width = int(native.width() / scale);
    d.height = int(native.height() / scale);
    return d;
}

class CaptureManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<platform::DefaultsStore>(dir.path() + "/defaults.json");
        settings = std::make_unique<PersistenceManager>(*store);
        shots = dir.path() + "/shots";
        QDir().mkpath(shots);
        settings->saveScreenshotFolderAccess(QUrl::fromLocalFile(shots));

        // A: primary, 1512 x 982 points at scale 2; B: to its right, scale 1; C: no number.
        screens = std::make_shared<FakeScreens>();
        screens->list = platform::Screen::makeScreens({
            display("A", QRect(0, 0, 3024, 1964), 2.0, 11, true),
            display("B", QRect(3024, 0, 1920, 1080), 1.0, 22, false),
            display("C", QRect(4944, 0, 800, 600), 1.0, std::nullopt, false),
        });
        platform::Screen::setProvider(screens);

        provider = std::make_shared<FakeCaptureProvider>(&events);
        provider->content.displays = {shareable(11, QRect(0, 0, 3024, 1964), 2.0),
                                      shareable(22, QRect(3024, 0, 1920, 1080), 1.0)};
        platform::RunningApplication own{"com.zentola.Zentola", "zentola", 100};
        platform::RunningApplication other{"org.example.Editor", "editor", 200};
        platform::RunningApplication ownSecond{"com.zentola.Zentola", "zentola-helper", 101};
        provider->content.applications = {other, own, ownSecond};
        platform::ShareableWindow w;
        w.windowID = 501;
        w.frame = QRectF(100, 100, 800, 600);
        w.owningApplication = other;
        w.isOnScreen = true;
        provider->content.windows = {w};
        platform::ScreenCaptureProvider::install(provider);
    }

    void TearDown() override {
        platform::ScreenCaptureProvider::install(nullptr);
        platform::Screen::setProvider(nullptr);
    }

    CaptureManager makeManager() {
        CaptureManager::Environment e;
        e.persistence = [this]() -> PersistenceManager& { return *settings; };
        e.preflightScreenCaptureAccess = [this] {
            ++preflights;
            return permission;
        };
        e.bundleIdentifier = [] { return QStringLiteral("com.zentola.Zentola"); };
        e.copyImageWithFile = [this](const platform::BitmapRef& image, const std::optional<QString>& path) {
            events.push_back("clipboard");
            clipboardImage = image;
            clipboardPath = path;
            if (onClipboard)
                onClipboard();
        };
        e.playShutterSound = [this] {
            events.push_back("sound");
            if (onSound)
                onSound();
        };
        e.showFlash = [this](platform::ScreenRef screen) -> QCoro::Task<void> {
            events.push_back("flash-start");
            flashScreen = screen;
            QTimer timer;
            timer.setSingleShot(true);
            timer.start(20);
            co_await timer;
            events.push_back("flash-end");
        };
        e.showThumbnail = [this](const CapturedImage& image) {
            events.push_back("thumbnail");
            thumbnail = image;
        };
        e.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        return CaptureManager(std::move(e));
    }

    platform::ScreenRef screen(int i) const { return screens->list.at(i); }

    static Case caseOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const CaptureManager::CaptureError& e) {
            return e.errorCase();
        }
        ADD_FAILURE() << "no CaptureError thrown";
        return Case::captureFailed;
    }

    QStringList savedFiles() const { return QDir(shots).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
    QString shots;
    std::unique_ptr<platform::DefaultsStore> store;
    std::unique_ptr<PersistenceManager> settings;
    std::shared_ptr<FakeScreens> screens;
    std::shared_ptr<FakeCaptureProvider> provider;
    std::vector<std::string> events;
    bool permission = true;
    int preflights = 0;
    platform::BitmapRef clipboardImage;
    std::optional<std::optional<QString>> clipboardPath;
    platform::ScreenRef flashScreen;
    std::optional<CapturedImage> thumbnail;
    std::function<void()> onClipboard, onSound;
};

WindowInfo editorWindow(quint32 id) {
    WindowInfo w;
    w.id = id;
    w.title = QStringLiteral("Notes.txt");
    w.ownerName = QStringLiteral("Editor");
    w.ownerPID = 200;
    w.frame = QRectF(100, 100, 800, 600);
    w.isOnScreen = true;
    return w;
}

}  // namespace

TEST_F(CaptureManagerTest, PreconditionsAreCheckedInOrderBeforeAnythingIsAsked) {
    permission = false;
    auto m = makeManager();
    // A missing rectangle is reported before a missing permission.
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::rect, std::nullopt, std::nullopt, nullptr)); }),
              Case::invalidRect);
    const SelectionRect rect{QPointF(10, 10), QSizeF(100, 100), 11};
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::rect, rect, std::nullopt, nullptr)); }),
              Case::noPermission);
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr)); }),
              Case::noPermission);
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, std::nullopt, nullptr)); }),
              Case::windowNotFound);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(savedFiles().isEmpty());
}

TEST_F(CaptureManagerTest, WindowModeSkipsThePreflightAndRemembersTheWindowEvenWhenItIsGone) {
    permission = false;
    auto m = makeManager();
    EXPECT_EQ(caseOf([&] {
                  runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, editorWindow(999), nullptr));
              }),
              Case::windowNotFound);
    EXPECT_EQ(preflights, 0);
    EXPECT_EQ(events, std::vector<std::string>{"content"});
    EXPECT_EQ(store->stringForKey("zentola.lastWindowOwnerName"), QStringLiteral("Editor"));
    EXPECT_EQ(store->stringForKey("zentola.lastWindowTitle"), QStringLiteral("Notes.txt"));
}

TEST_F(CaptureManagerTest, WindowCaptureIsTwiceThePointSizeAndFlashesTheTargetDisplay) {
    auto m = makeManager();
    runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, editorWindow(501), screen(1)));
    ASSERT_EQ(provider->captures.size(), 1u);
    const auto& [filter, config] = provider->captures[0];
    EXPECT_EQ(filter.kind(), platform::ContentFilter::Kind::desktopIndependentWindow);
    EXPECT_EQ(filter.window().windowID, 501u);
    // Display B has scale 1; the window is still taken at 2x.
    EXPECT_EQ(config.width, 1600);
    EXPECT_EQ(config.height, 1200);
    EXPECT_FALSE(config.showsCursor);
    EXPECT_TRUE(config.sourceRect.isNull());
    EXPECT_EQ(flashScreen, screen(1));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->mode, CaptureMode::window);
    EXPECT_EQ(thumbnail->sourceScreen, nullptr);
}

TEST_F(CaptureManagerTest, ScreenCaptureUsesTheDisplayScaleAndLeavesOnlyOwnApplicationsOut) {
    auto m = makeManager();
    runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr));
    ASSERT_EQ(provider->captures.size(), 1u);
    const auto& [filter, config] = provider->captures[0];
    EXPECT_EQ(filter.kind(), platform::ContentFilter::Kind::display);
    EXPECT_EQ(filter.display().displayID, 11u);  // no screen given: the main display
    std::vector<qint32> excluded;
    for (const auto& app : filter.excludedApplications())
        excluded.push_back(app.processID);
    EXPECT_EQ(excluded, (std::vector<qint32>{100, 101}));
    EXPECT_TRUE(filter.exceptedWindows().empty());
    EXPECT_EQ(config.width, 3024);
    EXPECT_EQ(config.height, 1964);
    EXPECT_EQ(config.pixelFormat, 0x42475241u);
    EXPECT_FALSE(config.showsCursor);
    EXPECT_EQ(provider->queries, (std::vector<std::pair<bool, bool>>{{false, true}}));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->sourceScreen, screen(0));
    ASSERT_TRUE(thumbnail->fileURL);
    EXPECT_EQ(thumbnail->fileURL->toLocalFile(), shots + "/Screenshot 2025-03-14 at 09.26.53.png");
    EXPECT_EQ(QImage(thumbnail->fileURL->toLocalFile()).size(), QSize(3024, 1964));
}

TEST_F(CaptureManagerTest, RectangleIsTakenFromTheTargetDisplayWithItsOwnCoordinates) {
    auto m = makeManager();
    // Drawn on B, captured on A (the target): A's number, the rectangle's numbers, A's scale.
    const SelectionRect rect{QPointF(10, 20), QSizeF(300.7, 200.2), 22};
    runTask(m.performCaptureWorkflow(CaptureMode::rect, rect, std::nullopt, screen(0)));
    // Dragged up and to the left: the same area.
    const SelectionRect reversed{QPointF(310.7, 220.2), QSizeF(-300.7, -200.2), 11};
    runTask(m.performCaptureWorkflow(CaptureMode::rect, reversed, std::nullopt, screen(0)));
    ASSERT_EQ(provider->captures.size(), 2u);
    for (const auto& [filter, config] : provider->captures) {
        EXPECT_EQ(filter.display().displayID, 11u);
        EXPECT_NEAR(config.sourceRect.x(), 10, 1e-9);
        EXPECT_NEAR(config.sourceRect.y(), 20, 1e-9);
        EXPECT_NEAR(config.sourceRect.width(), 300.7, 1e-9);
        EXPECT_NEAR(config.sourceRect.height(), 200.2, 1e-9);
        EXPECT_EQ(config.width, 601);  // truncated
        EXPECT_EQ(config.height, 400);
    }
    EXPECT_EQ(thumbnail->mode, CaptureMode::rect);
    EXPECT_EQ(thumbnail->sourceScreen, screen(0));
}

TEST_F(CaptureManagerTest, DegenerateAreasAndUnknownDisplaysAreRefusedWithoutAGrab) {
    auto m = makeManager();
    // Less than a pixel wide: never a whole-display grab by accident.
    const SelectionRect thin{QPointF(10, 20), QSizeF(0.2, 200), 11};
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::rect, thin, std::nullopt, screen(1))); }),
              Case::invalidRect);
    // C reports no number; B is not in the shareable content any more.
    const SelectionRect rect{QPointF(10, 20), QSizeF(100, 100), 11};
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, screen(2))); }),
              Case::displayNotFound);
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::rect, rect, std::nullopt, screen(2))); }),
              Case::displayNotFound);
    provider->content.displays.pop_back();
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, screen(1))); }),
              Case::displayNotFound);
    EXPECT_TRUE(provider->captures.empty());
    EXPECT_FALSE(thumbnail);
}

TEST_F(CaptureManagerTest, ServiceErrorsPassThroughAndNothingIsSavedOrAnnounced) {
    auto m = makeManager();
    provider->captureError = platform::PlatformError("X11", 5, "Cannot read the screen's pixels");
    try {
        runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr));
        ADD_FAILURE() << "no error";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.description(), "Cannot read the screen's pixels");
        EXPECT_EQ(e.code(), 5);
    }
    provider->captureError.reset();
    provider->contentError = platform::PlatformError("X11", 1, "Cannot connect to the X server :9");
    try {
        runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, editorWindow(501), nullptr));
        ADD_FAILURE() << "no error";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.description(), "Cannot connect to the X server :9");
    }
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "content"}));
    EXPECT_TRUE(savedFiles().isEmpty());
}

TEST_F(CaptureManagerTest, EffectsRunInOrderAndTheThumbnailWaitsForTheFlash) {
    auto m = makeManager();
    runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, screen(1)));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "clipboard", "sound", "flash-start", "flash-end",
                                                "thumbnail"}));
    ASSERT_TRUE(clipboardPath && *clipboardPath);
    EXPECT_EQ(**clipboardPath, shots + "/Screenshot 2025-03-14 at 09.26.53.png");
    // The one bitmap is shared by the clipboard and the thumbnail.
    EXPECT_EQ(clipboardImage, thumbnail->image.bitmap());
    EXPECT_EQ(flashScreen, screen(1));
}

TEST_F(CaptureManagerTest, EachSwitchIsReadWhenItsStepComes) {
    auto m = makeManager();
    // Turning the sound off while the clipboard step runs silences this very capture.
    onClipboard = [&] { settings->setPlaySounds(false); };
    runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "clipboard", "flash-start", "flash-end", "thumbnail"}));

    events.clear();
    settings->setCopyToClipboard(false);
    settings->setPlaySounds(true);
    onSound = [&] { settings->setShowFlash(false); };
    runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "sound", "thumbnail"}));

    events.clear();
    settings->setPlaySounds(false);
    runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "thumbnail"}));
}

TEST_F(CaptureManagerTest, AFailedSaveIsNoFailureOfTheCapture) {
    auto m = makeManager();
    // Wider than any JPEG can be: the encoder refuses it.
    settings->setSaveFormat(PersistenceManager::ImageFormat::jpeg);
    WindowInfo wide = editorWindow(501);
    wide.frame = QRectF(0, 0, 40000, 1);
    runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, wide, nullptr));
    ASSERT_TRUE(clipboardPath);
    EXPECT_FALSE(*clipboardPath);
    ASSERT_TRUE(thumbnail);
    EXPECT_FALSE(thumbnail->fileURL);
    EXPECT_TRUE(savedFiles().isEmpty()) << savedFiles().join(", ").toStdString();
}

TEST_F(CaptureManagerTest, WithoutAnyDisplayOnlyAWindowCanBeTaken) {
    screens->list.clear();
    auto m = makeManager();
    const SelectionRect rect{QPointF(10, 20), QSizeF(100, 100), 11};
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, nullptr)); }),
              Case::displayNotFound);
    EXPECT_EQ(caseOf([&] { runTask(m.performCaptureWorkflow(CaptureMode::rect, rect, std::nullopt, nullptr)); }),
              Case::displayNotFound);
    EXPECT_TRUE(provider->captures.empty());
    runTask(m.performCaptureWorkflow(CaptureMode::window, std::nullopt, editorWindow(501), nullptr));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(flashScreen, nullptr);
    EXPECT_EQ(savedFiles().size(), 1);
}
