#include "Features/Overlay/CountdownContainerView.h"
#include "Features/Overlay/CountdownWindowController.h"
#include "platform/display/FakeScreenProvider.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/WaitUntil.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zentola;
using namespace std::chrono_literals;

namespace {

class CountdownTest : public ::testing::Test {
protected:
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    int length = 3;
    bool sounds = true;
    bool compositor = true;
    // What happened, in order: "tick 3", "Tink", "done", ...
    std::vector<std::string> events;
    std::unique_ptr<CountdownWindowController> countdown;

    void SetUp() override {
        screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                              platform::FakeScreenProvider::display("B", QRect(1920, 0, 2560, 1440), 22)});
        CountdownWindowController::Environment e;
        e.recordingCountdown = [this] { return length; };
        e.playSounds = [this] { return sounds; };
        e.playSystemSound = [this](const QString& name) { events.push_back(name.toStdString()); };
        e.step = 40ms;
        e.compositorRunning = [this] { return compositor; };
        countdown = std::make_unique<CountdownWindowController>(e);
    }

    void TearDown() override {
        countdown.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    CountdownContainerView* view() const {
        return countdown->window() ? countdown->window()->findChild<CountdownContainerView*>() : nullptr;
    }

    // Starts a countdown and notes each number shown.
    void start(platform::ScreenRef screen, const std::string& name = "done") {
        countdown->showCountdown(std::move(screen), [this, name] { events.push_back(name); });
        if (auto* v = view()) {
            events.push_back("show " + std::to_string(v->currentCount()));
            QObject::connect(v, &CountdownContainerView::currentCountChanged,
                             [this](int n) { events.push_back("show " + std::to_string(n)); });
        }
    }
};

TEST_F(CountdownTest, CountsDownWithATickPerNumberThenCompletes) {
    start(screens->list.at(1));
    QPointer<QWidget> veil = countdown->window();
    ASSERT_NE(veil, nullptr);
    EXPECT_EQ(countdown->countdownValue(), 3);
    EXPECT_EQ(veil->geometry(), QRect(1920, 0, 2560, 1440));
    EXPECT_TRUE(veil->isVisible());
    EXPECT_TRUE(veil->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_TRUE(veil->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(veil->windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_EQ(view()->geometry(), QRect(0, 0, 2560, 1440));

    ASSERT_TRUE(waitUntil([&] { return !events.empty() && events.back() == "done"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"Tink", "show 3", "show 2", "Tink", "show 1", "Tink", "done"}));
    EXPECT_EQ(countdown->window(), nullptr);
    EXPECT_TRUE(veil.isNull() || !veil->isVisible());
}

bool isWhite(QRgb px) {
    return qAlpha(px) > 200 && qRed(px) > 200 && qGreen(px) > 200 && qBlue(px) > 200;
}

// Where the white number lies in the window's picture, in display coordinates.
QRect numberOnDisplay(QWidget* window) {
    const QImage picture = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QRect found;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (isWhite(picture.pixel(x, y)))
                found |= QRect(x, y, 1, 1);
    return found.translated(window->pos());
}

TEST_F(CountdownTest, WithoutACompositorOnlyTheNumbersBadgeIsCoveredAtTheSamePlace) {
    sounds = false;
    length = 10;
    const QRect display(1920, 0, 2560, 1440);
    // Taken at once: the first number shows at its largest.
    start(screens->list.at(1), "veil done");
    ASSERT_NE(countdown->window(), nullptr);
    const QImage veil = countdown->window()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRect onVeil = numberOnDisplay(countdown->window());
    ASSERT_TRUE(waitUntil([&] { return !events.empty() && events.back() == "veil done"; }));

    compositor = false;
    events.clear();
    start(screens->list.at(1));
    QWidget* badge = countdown->window();
    ASSERT_NE(badge, nullptr);
    const QImage picture = badge->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRect onBadge = numberOnDisplay(badge);

    // The desktop around the number stays uncovered.
    EXPECT_FALSE(badge->geometry().contains(display.topLeft()));
    EXPECT_FALSE(badge->geometry().contains(display.bottomRight()));
    EXPECT_LT(badge->width() * 2, display.width());
    EXPECT_LT(badge->height() * 2, display.height());
    EXPECT_TRUE(display.contains(badge->geometry()));
    EXPECT_EQ(view()->geometry(), QRect(QPoint(0, 0), badge->size()));
    EXPECT_EQ(picture.size(), badge->size());

    // The whole number shows where the veil would show it, not cut at the badge's edges.
    ASSERT_FALSE(onVeil.isEmpty());
    EXPECT_LE((onBadge.center() - onVeil.center()).manhattanLength(), 2);
    EXPECT_LE(std::abs(onBadge.width() - onVeil.width()), 2);
    EXPECT_LE(std::abs(onBadge.height() - onVeil.height()), 2);
    for (int x = 0; x < picture.width(); ++x) {
        EXPECT_FALSE(isWhite(picture.pixel(x, 0))) << x;
        EXPECT_FALSE(isWhite(picture.pixel(x, picture.height() - 1))) << x;
    }
    for (int y = 0; y < picture.height(); ++y) {
        EXPECT_FALSE(isWhite(picture.pixel(0, y))) << y;
        EXPECT_FALSE(isWhite(picture.pixel(picture.width() - 1, y))) << y;
    }

    // With a compositor the veil dims the whole display, corners included.
    EXPECT_EQ(veil.size(), display.size());
    for (const QPoint corner : {QPoint(0, 0), QPoint(veil.width() - 1, veil.height() - 1)}) {
        const QRgb px = veil.pixel(corner);
        EXPECT_NEAR(qAlpha(px), 102, 2);
        EXPECT_EQ(qRed(px) + qGreen(px) + qBlue(px), 0);
    }

    // The steps are the same either way.
    ASSERT_TRUE(waitUntil([&] { return !events.empty() && events.back() == "done"; }));
    ASSERT_EQ(events.size(), 11u);
    EXPECT_EQ(events.front(), "show 10");
    EXPECT_EQ(events.at(9), "show 1");
    EXPECT_EQ(countdown->window(), nullptr);
}

TEST_F(CountdownTest, ABadgeOnADisplaySmallerThanItStaysWithinTheDisplay) {
    compositor = false;
    screens->setDisplays({platform::FakeScreenProvider::display("S", QRect(100, 50, 120, 80), 33)});
    start(nullptr);
    ASSERT_NE(countdown->window(), nullptr);
    EXPECT_EQ(countdown->window()->geometry(), QRect(100, 50, 120, 80));
}

TEST_F(CountdownTest, ZeroCompletesAtOnceWithoutVeilOrSound) {
    length = 0;
    start(nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"done"}));
    EXPECT_EQ(countdown->window(), nullptr);
}

TEST_F(CountdownTest, ANegativeStoredLengthMeansNoCountdown_AHugeOneIsCappedAtTen) {
    length = -4;
    start(nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"done"}));
    events.clear();
    length = 100000;
    start(nullptr);
    EXPECT_EQ(countdown->countdownValue(), 10);
    ASSERT_NE(view(), nullptr);
    EXPECT_EQ(view()->currentCount(), 10);
}

TEST_F(CountdownTest, OneSecondShowsOneWithOneTick_NoneWithSoundsOff) {
    length = 1;
    start(nullptr);
    // No display given: the main one.
    EXPECT_EQ(countdown->window()->geometry(), QRect(0, 0, 1920, 1080));
    ASSERT_TRUE(waitUntil([&] { return !events.empty() && events.back() == "done"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"Tink", "show 1", "done"}));

    events.clear();
    sounds = false;
    length = 2;
    start(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !events.empty() && events.back() == "done"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"show 2", "show 1", "done"}));
}

TEST_F(CountdownTest, ASecondCountdownLeavesTheFirstToFinishOnItsOwn) {
    sounds = false;
    QPointer<QWidget> first, second;
    bool secondShowingAtFirstEnd = false, firstGoneAtFirstEnd = false;
    int firstEnds = 0, secondEnds = 0;
    countdown->showCountdown(screens->list.at(0), [&] {
        ++firstEnds;
        // The first one's end takes its own veil away, not the running one's.
        secondShowingAtFirstEnd = second && second->isVisible() && countdown->window() == second.data();
        firstGoneAtFirstEnd = !first || !first->isVisible();
    });
    first = countdown->window();
    length = 10;
    countdown->showCountdown(screens->list.at(1), [&] { ++secondEnds; });
    second = countdown->window();
    ASSERT_NE(first, second);
    ASSERT_TRUE(waitUntil([&] { return firstEnds == 1; }));
    EXPECT_TRUE(secondShowingAtFirstEnd);
    EXPECT_TRUE(firstGoneAtFirstEnd);
    ASSERT_TRUE(waitUntil([&] { return secondEnds == 1; }));
    EXPECT_EQ(countdown->window(), nullptr);
    EXPECT_EQ(firstEnds, 1);
}

TEST_F(CountdownTest, AwaitingResumesAfterTheCompletion) {
    length = 2;
    bool resumed = false;
    // Named: the coroutine refers to the closure while it waits.
    auto wait = [&]() -> QCoro::Task<void> {
        co_await countdown->countdown(nullptr);
        resumed = true;
    };
    auto task = wait();
    EXPECT_FALSE(resumed);
    ASSERT_TRUE(waitUntil([&] { return resumed; }));
    EXPECT_EQ(countdown->window(), nullptr);
}

}  // namespace
