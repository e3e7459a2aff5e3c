#include "Features/Overlay/CountdownContainerView.h"
#include "Features/Overlay/CountdownWindowController.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/WaitUntil.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace zentola;
using namespace std::chrono_literals;

namespace {

class CountdownTest : public ::testing::Test {
protected:
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    int length = 3;
    bool sounds = true, compositor = true;
    // What happened, in order: "Tink", "show 3", "forget", "done", ...
    std::vector<std::string> events;
    std::vector<QRect> kept;
    std::unique_ptr<CountdownWindowController> countdown;
    std::function<void()> recordingStarted;  // what the controller asked to be told

    void SetUp() override {
        screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                              platform::FakeScreenProvider::display("B", QRect(1920, 0, 2560, 1440), 22)});
        CountdownWindowController::Environment e;
        e.recordingCountdown = [this] { return length; };
        e.playSounds = [this] { return sounds; };
        e.playSystemSound = [this](const QString& name) { events.push_back(name.toStdString()); };
        e.step = 40ms;
        e.compositorRunning = [this] { return compositor; };
        // The desktop beneath: one colour.
        e.keepBeneath = [this](QWindow*, const QRect& geometry) {
            kept.push_back(geometry);
            QImage desktop(geometry.size(), QImage::Format_RGB32);
            desktop.fill(qRgb(100, 150, 200));
            return platform::Bitmap::fromQImage(desktop);
        };
        e.forget = [this](QWindow*) { events.push_back("forget"); };
        e.watchRecordingStarts = [this](QObject*, std::function<void()> started) { recordingStarted = std::move(started); };
        countdown = std::make_unique<CountdownWindowController>(e);
    }

    CountdownContainerView* view() const { return countdown->window()->findChild<CountdownContainerView*>(); }
    // Starts a countdown and notes each number shown.
    void start(platform::ScreenRef screen, const std::string& name = "done") {
        countdown->showCountdown(std::move(screen), [this, name] { events.push_back(name); });
        if (countdown->window()) {
            events.push_back("show " + std::to_string(view()->currentCount()));
            QObject::connect(view(), &CountdownContainerView::currentCountChanged, [this](int n) { events.push_back("show " + std::to_string(n)); });
        }
    }
    bool finished(const std::string& name = "done") const { return !events.empty() && events.back() == name; }
};

TEST_F(CountdownTest, CountsDownOverTheWholeDisplayThenCompletes_WithoutACompositorItPaintsTheDesktopBeneath) {
    for (bool blended : {true, false}) {
        compositor = sounds = blended;
        events.clear();
        start(screens->list.at(1));
        QPointer<QWidget> veil = countdown->window();
        ASSERT_TRUE(veil && veil->isVisible() && countdown->countdownValue() == 3);
        EXPECT_TRUE(veil->geometry() == QRect(1920, 0, 2560, 1440) && kept.back() == veil->geometry() &&
                    veil->testAttribute(Qt::WA_TranslucentBackground) == blended);
        // Black at 0.4: over whatever the compositor blends it with, or over the desktop (100, 150, 200).
        const QImage picture = veil->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        for (const QPoint at : {QPoint(5, 5), QPoint(2550, 1430)}) {
            const QRgb px = picture.pixel(at);
            EXPECT_TRUE(blended ? std::abs(qAlpha(px) - 102) <= 2 && qRed(px) == 0
                                : qAlpha(px) == 255 && std::abs(qRed(px) - 60) <= 2 && std::abs(qBlue(px) - 120) <= 2)
                << std::hex << px;
        }
        ASSERT_TRUE(waitUntil([&] { return finished(); }));
        const std::vector<std::string> ticking{"Tink", "show 3", "show 2", "Tink", "show 1", "Tink", "forget", "done"},
            silent{"show 3", "show 2", "show 1", "forget", "done"};
        EXPECT_EQ(events, blended ? ticking : silent);
        EXPECT_TRUE(!countdown->window() && (veil.isNull() || !veil->isVisible()));
    }
}

TEST_F(CountdownTest, TheStoredLengthDecides_CountdownsMayOverlapAndCanBeAwaited) {
    for (int off : {0, -4}) {
        length = off;
        start(nullptr);
        EXPECT_TRUE(events == std::vector<std::string>{"done"} && !countdown->window() && kept.empty());
        events.clear();
    }
    // One second on the main display: one number, one tick.
    length = 1;
    start(nullptr);
    EXPECT_EQ(countdown->window()->geometry(), QRect(0, 0, 1920, 1080));
    ASSERT_TRUE(waitUntil([&] { return finished(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"Tink", "show 1", "forget", "done"}));

    // More than ten is ten; another countdown meanwhile ends on its own and takes only its own veil.
    sounds = false;
    length = 100000;
    start(nullptr, "ten");
    EXPECT_TRUE(countdown->countdownValue() == 10 && view()->currentCount() == 10);
    QPointer<QWidget> ten = countdown->window();
    length = 1;
    bool resumed = false;
    auto wait = [&]() -> QCoro::Task<void> {
        co_await countdown->countdown(screens->list.at(1));
        resumed = true;
    };
    auto task = wait();
    EXPECT_FALSE(resumed);
    ASSERT_TRUE(waitUntil([&] { return resumed; }));
    EXPECT_TRUE(ten && ten->isVisible());
    EXPECT_TRUE(waitUntil([&] { return finished("ten"); }) && !countdown->window());
}

// Ctrl+Shift+8 while the overlay's recording counts down: the recording it starts ends every
// countdown at once, each told so instead of completing, so none starts a second recording.
TEST_F(CountdownTest, ARecordingStartedMeanwhileEndsEveryCountdownWithoutItsCompletion) {
    ASSERT_TRUE(recordingStarted);
    sounds = false;
    length = 2;
    std::optional<bool> ranOut;
    auto wait = [&]() -> QCoro::Task<void> { ranOut = co_await countdown->countdown(screens->list.at(1)); };
    auto task = wait();
    QPointer<QWidget> first = countdown->window();
    countdown->showCountdown(nullptr, [this] { events.push_back("done"); }, [this] { events.push_back("overtaken"); });
    QPointer<QWidget> second = countdown->window();
    ASSERT_TRUE(first && second && first->isVisible() && second->isVisible());
    recordingStarted();
    EXPECT_FALSE(countdown->window());
    EXPECT_TRUE(first.isNull() || !first->isVisible());
    EXPECT_TRUE(second.isNull() || !second->isVisible());
    ASSERT_TRUE(waitUntil([&] { return ranOut.has_value(); }));
    EXPECT_FALSE(*ranOut);
    spinFor(200);  // well past the length of both
    EXPECT_EQ(events, (std::vector<std::string>{"forget", "forget", "overtaken"}));
    // A recording that starts with no countdown running ends none; the next one runs out as usual.
    recordingStarted();
    events.clear();
    length = 1;
    start(nullptr);
    ASSERT_TRUE(waitUntil([&] { return finished(); }));
}

}  // namespace
