// The capture core against fakes of the X server: the workflow, the screenshot writer, the
// geometry of grabs and the window list's rules.
#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/ScreenshotWriter.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Services/PersistenceManager.h"
#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebpEncoderConfig.h"
#include "platform/capture/ScreenCaptureProvider.h"
#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11ScreenCaptureProvider.h"
#include "platform/core/Error.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/Printed.h"
#include "support/RunTask.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>

#include <map>

using namespace zentola;
using testing_support::runTask;
using Case = CaptureManager::CaptureErrorCase;
using Format = PersistenceManager::ImageFormat;
using platform::FakeScreenProvider;

namespace {

// A private settings store.
struct WithSettings : ::testing::Test {
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
};

// Answers from fixed data, noting each call among the test's events.
struct FakeCaptureProvider : platform::ScreenCaptureProvider {
    explicit FakeCaptureProvider(std::vector<std::string>& events) : events(events) {}
    std::vector<std::string>& events;
    platform::ShareableContent content;
    std::optional<platform::PlatformError> contentError, captureError;
    std::vector<std::pair<platform::ContentFilter, platform::StreamConfiguration>> captures;

    QCoro::Task<platform::ShareableContent> shareableContent(bool, bool) override {
        events.push_back("content");
        if (contentError)
            throw *contentError;
        platform::ShareableContent copy = content;  // co_return would move from the member
        co_return copy;
    }
    QCoro::Task<platform::BitmapRef> captureImage(platform::ContentFilter filter, platform::StreamConfiguration config) override {
        events.push_back("grab");
        captures.emplace_back(filter, config);
        if (captureError)
            throw *captureError;
        const int w = int(config.width), h = int(config.height);
        co_return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                           std::vector<std::uint8_t>(std::size_t(w) * h * 4, 0x80));
    }
    std::vector<platform::WindowListEntry> windowList(bool, bool) override { return {}; }
};

platform::ShareableDisplay shareable(quint32 id, QRect native, double scale) {
    return platform::ShareableDisplay{id, int(native.width() / scale), int(native.height() / scale), native, scale, {}};
}

class CaptureManagerTest : public WithSettings {
protected:
    FakeScreenProvider::Installation screens = FakeScreenProvider::install();
    std::vector<std::string> events;
    std::shared_ptr<FakeCaptureProvider> provider = std::make_shared<FakeCaptureProvider>(events);
    bool permission = true;
    int preflights = 0;
    std::optional<std::optional<QString>> clipboardPath;
    platform::BitmapRef clipboardImage;
    platform::ScreenRef flashScreen;
    std::optional<CapturedImage> thumbnail;
    std::map<std::string, std::function<void()>> during;  // run as that step happens
    CaptureManager manager{environment()};

    void SetUp() override {
        settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(dir.path()));
        // A: 1512 x 982 points at scale 2; B: to its right at scale 1; C: no number.
        screens->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 3024, 1964), 11, 2.0),
                              FakeScreenProvider::display("B", QRect(3024, 0, 1920, 1080), 22),
                              FakeScreenProvider::display("C", QRect(4944, 0, 800, 600), 0)});
        provider->content.displays = {shareable(11, QRect(0, 0, 3024, 1964), 2.0),
                                      shareable(22, QRect(3024, 0, 1920, 1080), 1.0)};
        const platform::RunningApplication own{"com.zentola.Zentola", "zentola", 100}, other{"org.example.Editor", "editor", 200};
        provider->content.applications = {other, own, {"com.zentola.Zentola", "zentola-helper", 101}};
        provider->content.windows = {{501, {}, {}, other}};
        platform::ScreenCaptureProvider::install(provider);
    }
    void TearDown() override { platform::ScreenCaptureProvider::install(nullptr); }

    CaptureManager::Environment environment() {
        CaptureManager::Environment e;
        e.persistence = [this]() -> PersistenceManager& { return settings; };
        e.preflightScreenCaptureAccess = [this] { return ++preflights, permission; };
        e.bundleIdentifier = [] { return QStringLiteral("com.zentola.Zentola"); };
        e.copyImageWithFile = [this](const platform::BitmapRef& image, const std::optional<QString>& path) {
            clipboardImage = image, clipboardPath = path, note("clipboard");
        };
        e.playShutterSound = [this] { note("sound"); };
        e.showFlash = [this](platform::ScreenRef screen) -> QCoro::Task<void> {
            events.push_back("flash-start"), flashScreen = screen;
            co_await QCoro::sleepFor(std::chrono::milliseconds(20));
            events.push_back("flash-end");
        };
        e.showThumbnail = [this](const CapturedImage& image) { events.push_back("thumbnail"), thumbnail = image; };
        e.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        return e;
    }

    void note(const std::string& step) {
        events.push_back(step);
        if (during.count(step))
            during[step]();
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

platform::BitmapRef gradient(int w, int h) {
    std::vector<std::uint8_t> px(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = px.data() + (std::size_t(y) * w + x) * 4;
            p[0] = std::uint8_t(x * 7), p[1] = std::uint8_t(y * 5), p[2] = std::uint8_t(x ^ y), p[3] = 255;
        }
    return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::BGRA, platform::AlphaMode::opaque, std::move(px));
}

class ScreenshotWriterTest : public WithSettings {
protected:
    QString folder = dir.path() + "/Pictures/Zentola";

    // The file written, and what was logged.
    std::pair<std::optional<QUrl>, std::string> save(const platform::BitmapRef& image) {
        ScreenshotWriter w(settings);
        w.now = [] { return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53)); };
        w.folderURL = [this] { return QUrl::fromLocalFile(folder); };
        CapturedStdout printed;
        auto url = w.saveScreenshot(image);
        return {url, printed.text()};
    }
    QByteArray bytes(const std::optional<QUrl>& url) const {
        QFile f(url ? url->toLocalFile() : QString());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries() const { return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System); }
};

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
    EXPECT_TRUE(preflights == 0 && events == std::vector<std::string>{"content"} && saved().isEmpty());
    EXPECT_TRUE(store.stringForKey("zentola.lastWindowOwnerName") == "Editor" && store.stringForKey("zentola.lastWindowTitle") == "Notes.txt");
}

TEST_F(CaptureManagerTest, DisplaysAreTakenAtTheirScaleWithoutOurWindows_WindowsAtTwiceTheirPoints) {
    take(CaptureMode::screen);
    take(CaptureMode::window, {}, editorWindow(501), screen(1));
    ASSERT_EQ(provider->captures.size(), 2u);
    const auto& [display, displayConfig] = provider->captures[0];
    EXPECT_EQ(display.display().displayID, 11u);  // no screen given: the main display
    const auto& excluded = display.excludedApplications();
    EXPECT_TRUE(excluded.size() == 2 && excluded[0].processID == 100 && excluded[1].processID == 101);
    EXPECT_TRUE(displayConfig.width == 3024 && displayConfig.height == 1964 && !displayConfig.showsCursor);
    const auto& [window, windowConfig] = provider->captures[1];
    EXPECT_TRUE(window.kind() == platform::ContentFilter::Kind::desktopIndependentWindow && window.window().windowID == 501u);
    // B has scale 1; the window is still taken at 2x, and the target display flashes.
    EXPECT_TRUE(windowConfig.width == 1600 && windowConfig.height == 1200 && windowConfig.sourceRect.isNull());
    EXPECT_TRUE(flashScreen == screen(1) && thumbnail->sourceScreen == nullptr && saved().size() == 2);
    EXPECT_EQ(QImage(dir.filePath("Screenshot 2025-03-14 at 09.26.53.png")).size(), QSize(3024, 1964));
}

TEST_F(CaptureManagerTest, EachDisplayAndRectangleIsTakenAtThatDisplaysOwnScale) {
    // B (scale 1) beside A (scale 2): all of B's pixels, and a rectangle on B clipped at B's edge.
    take(CaptureMode::screen, {}, {}, screen(1));
    take(CaptureMode::rect, SelectionRect{QPointF(1000, 500), QSizeF(2000, 2000), 22}, {}, screen(1));
    ASSERT_EQ(provider->captures.size(), 2u);
    EXPECT_EQ(QSize(int(provider->captures[0].second.width), int(provider->captures[0].second.height)), QSize(1920, 1080));
    EXPECT_EQ(provider->captures[1].second.sourceRect, QRectF(1000, 500, 920, 580));
    EXPECT_EQ(QSize(int(provider->captures[1].second.width), int(provider->captures[1].second.height)), QSize(920, 580));
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
        EXPECT_TRUE(filter.display().displayID == 11u && config.sourceRect == c.source);  // within rounding
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
    EXPECT_TRUE(refused(CaptureMode::screen, {}, {}, screen(1)) == Case::displayNotFound && provider->captures.empty());
}

TEST_F(CaptureManagerTest, EffectsRunInOrderEachAsItsSwitchSaysWhenItsStepComes) {
    take(CaptureMode::screen, {}, {}, screen(1));
    EXPECT_EQ(events, (std::vector<std::string>{"content", "grab", "clipboard", "sound", "flash-start", "flash-end",
                                                "thumbnail"}));
    EXPECT_EQ(**clipboardPath, dir.filePath("Screenshot 2025-03-14 at 09.26.53.png"));
    // One bitmap for the clipboard and the thumbnail.
    EXPECT_TRUE(clipboardImage == thumbnail->image.bitmap() && flashScreen == screen(1));

    const struct {
        bool clipboard, sound;
        std::map<std::string, std::function<void()>> during;
        std::vector<std::string> events;
    } cases[] = {
        {true, true, {{"clipboard", [&] { settings.setPlaySounds(false); }}}, {"clipboard", "flash-start", "flash-end", "thumbnail"}},
        {false, true, {{"sound", [&] { settings.setShowFlash(false); }}}, {"sound", "thumbnail"}},
        {false, false, {}, {"thumbnail"}},
    };
    for (const auto& c : cases) {
        settings.setCopyToClipboard(c.clipboard);
        settings.setPlaySounds(c.sound);
        during = c.during;
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
    EXPECT_TRUE(events == (std::vector<std::string>{"content", "grab", "content"}) && saved().isEmpty());
    provider->contentError.reset();

    // Wider than any JPEG can be: the save fails, the capture does not.
    settings.setSaveFormat(PersistenceManager::ImageFormat::jpeg);
    WindowInfo wide = editorWindow(501);
    wide.frame = QRectF(0, 0, 40000, 1);
    take(CaptureMode::window, {}, wide);
    EXPECT_TRUE(!*clipboardPath && !thumbnail->fileURL && saved().isEmpty());

    screens->list.clear();
    EXPECT_EQ(refused(CaptureMode::screen), Case::displayNotFound);
    EXPECT_EQ(refused(CaptureMode::rect, SelectionRect{QPointF(10, 20), QSizeF(100, 100), 11}), Case::displayNotFound);
    settings.setSaveFormat(PersistenceManager::ImageFormat::png);
    take(CaptureMode::window, {}, editorWindow(501));
    EXPECT_TRUE(flashScreen == nullptr && saved().size() == 1);
}

TEST_F(ScreenshotWriterTest, NamesFollowTheDate_TheFolderIsMade_AndAnEarlierCaptureIsNeverReplaced) {
    std::vector<QString> names;
    for (int i = 0; i < 3; ++i)
        names.push_back(save(gradient(40 + i, 30)).first->toLocalFile());
    EXPECT_EQ(names, (std::vector<QString>{folder + "/Screenshot 2025-03-14 at 09.26.53.png",
                                           folder + "/Screenshot 2025-03-14 at 09.26.53 (2).png",
                                           folder + "/Screenshot 2025-03-14 at 09.26.53 (3).png"}));
    EXPECT_EQ(QImage(names[1]).size(), QSize(41, 30));
    // Nothing but the three files: no temporary left beside them.
    EXPECT_EQ(entries().size(), 3);
}

TEST_F(ScreenshotWriterTest, EachFailureIsLoggedWithWhereAndWhyAndLeavesNoFile) {
    const std::string prefix = "Failed to save screenshot: ";
    // WebP stops at 16383 pixels a side, JPEG at 65500.
    settings.setSaveFormat(Format::webp);
    auto [url, log] = save(gradient(17000, 1));
    EXPECT_TRUE(!url && log.rfind(prefix, 0) == 0 && log.size() > prefix.size() + 1) << log;
    settings.setSaveFormat(Format::jpeg);
    std::tie(url, log) = save(gradient(70000, 1));
    EXPECT_TRUE(!url && log.rfind("Failed to finalize image destination (" + folder.toStdString() +
                                      "/Screenshot 2025-03-14 at 09.26.53.jpg: ", 0) == 0) << log;
    EXPECT_TRUE(entries().isEmpty()) << entries().join(", ").toStdString();

    // A folder where no file can be made (a name too long for the system, even as root).
    settings.setSaveFormat(Format::png);
    folder = dir.path() + "/" + QString(250, 'a') + "/" + QString(250, 'b');
    while (folder.size() < 4080)
        folder += "/" + QString(std::min<qsizetype>(250, 4080 - folder.size()), 'c');
    std::tie(url, log) = save(gradient(8, 8));
    EXPECT_TRUE(!url && log == "Failed to create image destination for format: png (" + folder.toStdString() +
                                   "/Screenshot 2025-03-14 at 09.26.53.png: File name too long)\n") << log;

    // A folder that cannot be made, and none at all.
    ASSERT_TRUE(QFile(dir.path() + "/Blocked").open(QIODevice::WriteOnly));
    for (const QString& blocked : {dir.path() + "/Blocked", dir.path() + "/Blocked/inside"}) {
        folder = blocked;
        std::tie(url, log) = save(gradient(8, 8));
        EXPECT_TRUE(!url && log.rfind(prefix, 0) == 0 && std::count(log.begin(), log.end(), '\n') == 1) << log;
    }
    folder.clear();
    EXPECT_EQ(save(gradient(8, 8)).second, "No screenshot folder access\n");
}

// What the user is told when nothing was saved: where and why, without the log's prefixes.
TEST_F(ScreenshotWriterTest, EachFailureGivesTheUserItsReason_ASaveThatWorksGivesNone) {
    ScreenshotWriter w(settings);
    w.folderURL = [this] { return QUrl::fromLocalFile(folder); };
    auto reason = [&](const platform::BitmapRef& image) {
        CapturedStdout quiet;
        w.saveScreenshot(image);
        return w.failureReason().toStdString();
    };
    ASSERT_TRUE(QFile(dir.path() + "/Blocked").open(QIODevice::WriteOnly));
    folder = dir.path() + "/Blocked/inside";
    EXPECT_EQ(reason(gradient(8, 8)), "Cannot create the folder " + folder.toStdString() + ": Not a directory");
    folder = dir.path() + "/" + QString(255, 'a') + "b";
    EXPECT_EQ(reason(gradient(8, 8)), "Cannot create the folder " + folder.toStdString() + ": File name too long");
    settings.setSaveFormat(Format::jpeg);
    folder = dir.path() + "/Pictures";
    EXPECT_NE(reason(gradient(70000, 1)), "") << "too wide for JPEG";
    settings.setSaveFormat(Format::png);
    EXPECT_EQ(reason(gradient(8, 8)), "");
    folder.clear();
    EXPECT_EQ(reason(gradient(8, 8)), "No screenshot folder is set");
}

TEST_F(ScreenshotWriterTest, QualityCountsForTheLossyFormatsOnly_AndAnyStoredValueIsKeptWithinZeroToOne) {
    const auto image = gradient(256, 128);
    auto sizeAt = [&](Format f, double q) {
        settings.setSaveFormat(f);
        settings.setJpegQuality(q);
        const auto url = save(image).first;
        EXPECT_TRUE(url && url->toLocalFile().endsWith("." + f.fileExtension()));
        return bytes(url).size();
    };
    for (Format lossy : {Format::jpeg, Format::heic, Format::webp})
        EXPECT_LT(sizeAt(lossy, 0.2), sizeAt(lossy, 0.95)) << ScreenshotWriter::caseName(lossy).toStdString();
    for (Format lossless : {Format::png, Format::tiff})
        EXPECT_EQ(sizeAt(lossless, 0.2), sizeAt(lossless, 0.95));

    // A hand-edited store: every format takes the nearest quality it can use.
    for (Format f : {Format::webp, Format::jpeg}) {
        settings.setSaveFormat(f);
        for (const auto& [stored, meant] : {std::pair(5.0, 1.0), std::pair(-3.0, 0.0)}) {
            store.set(QStringLiteral("zentola.jpegQuality"), stored);
            const QByteArray clamped = bytes(save(image).first);
            store.set(QStringLiteral("zentola.jpegQuality"), meant);
            EXPECT_TRUE(!clamped.isEmpty() && clamped == bytes(save(image).first)) << stored;
        }
    }
}

TEST(ScreenshotWriterPixels, WebpGetsStraightRgbaRowsWithThePicturePresetAtTheQualityInPercent) {
    // Straight-alpha BGRA, premultiplied RGBA (its colour comes out whole), opaque BGRA with padded rows.
    const auto straight = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::BGRA, platform::AlphaMode::straight,
                                                   {50, 100, 200, 128});
    EXPECT_EQ(ScreenshotWriter::straightRGBA(*straight), (std::vector<std::uint8_t>{200, 100, 50, 128}));
    const auto premultiplied = platform::Bitmap::create(1, 1, 4, platform::PixelFormat::RGBA,
                                                        platform::AlphaMode::premultiplied, {10, 20, 30, 40});
    EXPECT_EQ(ScreenshotWriter::straightRGBA(*premultiplied), (std::vector<std::uint8_t>{64, 128, 191, 40}));
    const auto opaque = platform::Bitmap::create(1, 2, 8, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                                 {1, 2, 3, 0, 9, 9, 9, 9, 4, 5, 6, 0, 9, 9, 9, 9});
    EXPECT_EQ(ScreenshotWriter::straightRGBA(*opaque), (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));

    const auto rgba = ScreenshotWriter::straightRGBA(*gradient(96, 64));
    const webp::Data direct = webp::WebPEncoder().encode(
        webp::RGBA, rgba.data(), webp::WebpEncoderConfig::preset(webp::WebpEncoderConfig::Preset::picture, 90), 96, 64, 96 * 4, 0, 0);
    EXPECT_EQ(ScreenshotWriter::webpData(rgba, 96, 64, 0.9), QByteArray(reinterpret_cast<const char*>(direct.data()), qsizetype(direct.size())));
}

TEST(CaptureGeometry, SourceRectanglesInPointsBecomeTheDisplaysPixels_ImpossibleOnesAreErrors) {
    auto area = [](QRect native, double scale, QRectF source) {
        return platform::X11ScreenCaptureProvider::nativeArea(platform::ShareableDisplay{0, 0, 0, native, scale, {}}, source);
    };
    // No rectangle: the whole display, wherever it sits (left of and below the origin here).
    EXPECT_EQ(area(QRect(-1920, 300, 1920, 1080), 1.0, QRectF()), QRect(-1920, 300, 1920, 1080));
    EXPECT_EQ(area(QRect(-1920, 300, 1920, 1080), 1.0, QRectF(10, 20, 300, 200)), QRect(-1910, 320, 300, 200));
    // Right of it at scale 2: points double, the display's own origin stays in pixels.
    EXPECT_EQ(area(QRect(3840, 0, 3840, 2160), 2.0, QRectF(10.25, 20, 300.5, 200)), QRect(3861, 40, 601, 400));
    // Above, drawn up and to the left; never less than a pixel.
    EXPECT_EQ(area(QRect(0, -1080, 1920, 1080), 1.0, QRectF(310, 220, -300, -200)), QRect(10, -1060, 300, 200));
    EXPECT_EQ(area(QRect(0, 0, 1920, 1080), 1.0, QRectF(5, 5, 0.2, 0.2)).size(), QSize(1, 1));
    for (const QRectF& impossible : {QRectF(0, 0, std::numeric_limits<double>::infinity(), 10), QRectF(std::nan(""), 0, 10, 10),
                                     QRectF(0, 0, 1e12, 10)})
        EXPECT_THROW(area(QRect(0, 0, 1920, 1080), 1.0, impossible), platform::PlatformError);
    // Window bounds count from the first display's corner, which need not be the X server's origin.
    const platform::X11Desktop::Layout layout{QPoint(1920, 200), 1.0}, doubled{QPoint(0, 0), 2.0};
    EXPECT_EQ(layout.toPoints(QRect(0, 0, 800, 600)), QRectF(-1920, -200, 800, 600));
    EXPECT_EQ(doubled.toPoints(QRect(200, 100, 1600, 1200)), QRectF(100, 50, 800, 600));
}

TEST(WindowEnumerator, OthersWindowsBigEnoughAndAboveTheDesktopHighestLayerFirst) {
    auto entry = [](quint32 number, qint32 pid, QRectF bounds, int layer) {
        platform::WindowListEntry e;
        e.number = number, e.ownerPID = pid, e.bounds = bounds, e.layer = layer, e.name = "w";
        e.ownerName = QStringLiteral("owner%1").arg(pid), e.isOnscreen = true;
        return e;
    };
    const qint32 own = 4242;
    std::vector<platform::WindowListEntry> entries{
        entry(1, 10, QRectF(0, 0, 50, 50), 0),      entry(2, 10, QRectF(0, 0, 49, 200), 0),  // too narrow
        entry(3, 10, QRectF(0, 0, 200, 49.5), 0),   entry(4, own, QRectF(0, 0, 800, 600), 0),  // too low; ours
        entry(6, 11, QRectF(0, 0, 800, 600), -1),   entry(7, 12, QRectF(10, 20, 300, 200), 3),   // below the desktop
        entry(8, 13, QRectF(0, 0, 500, 500), 0),    entry(9, 13, QRectF(0, 0, 500, 500), 0),
        entry(10, 14, QRectF(0, 0, 500, 500), 20),  entry(11, 15, QRectF(0, 0, 500, 500), 3)};
    entries[6].layer.reset(), entries[7].ownerPID.reset();  // incomplete: left out
    entries[5].name.reset(), entries[8].isOnscreen.reset(), entries[8].ownerName.reset();
    const auto list = zentola::WindowEnumerator::windows(entries, own);
    std::vector<quint32> ids;
    for (const auto& w : list)
        ids.push_back(w.id);
    EXPECT_EQ(ids, (std::vector<quint32>{10, 7, 11, 1}));
    EXPECT_TRUE(!list[0].isOnScreen && !list[0].ownerName && !list[1].title && list[1].frame == QRectF(10, 20, 300, 200));
    EXPECT_TRUE(list[1].ownerName == "owner12" && list[1].ownerPID == 12 && list[1].isOnScreen);
}
