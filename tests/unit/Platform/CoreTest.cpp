#include "platform/core/Bitmap.h"
#include "platform/core/Error.h"
#include "platform/core/MainThread.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SerialQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace platform;

TEST(SerialQueue, RunsJobsInOrderOnOneNamedThread) {
    std::vector<int> seen;
    std::thread::id first;
    std::atomic<bool> sameThread{true};
    {
        SerialQueue q("com.zentola.videoCapture");
        for (int i = 0; i < 100; ++i)
            q.async([&, i] {
                if (i == 0)
                    first = std::this_thread::get_id();
                else if (std::this_thread::get_id() != first)
                    sameThread = false;
                seen.push_back(i);
            });
        q.async([] { throw std::runtime_error("a failing job must not stop the queue"); });
        q.sync([&] { seen.push_back(100); });
        EXPECT_EQ(q.label(), "com.zentola.videoCapture");
    }
    ASSERT_EQ(seen.size(), 101u);
    for (int i = 0; i <= 100; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_TRUE(sameThread);
    EXPECT_NE(first, std::this_thread::get_id());
}

namespace {

QCoro::Task<int> awaitValue(Completion<int> c, std::thread::id* resumedOn) {
    int v = co_await c;
    *resumedOn = std::this_thread::get_id();
    co_return v;
}

QCoro::Task<void> awaitError(Completion<void> c, std::string* message) {
    try {
        co_await c;
    } catch (const PlatformError& e) {
        *message = e.description();
    }
}

template <typename Pred>
void spinUntil(Pred pred) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

TEST(Completion, ResumesOnTheMainThreadOnceWithTheValueFromAnotherThread) {
    Completion<int> c;
    std::thread::id resumedOn;
    auto task = awaitValue(c, &resumedOn);
    std::thread worker([c] {
        c.resolve(42);
        c.resolve(7);  // ignored
    });
    worker.join();
    int result = -1;
    bool done = false;
    task.then([&](int v) {
        result = v;
        done = true;
    });
    spinUntil([&] { return done; });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
}

TEST(Completion, CarriesAnErrorAndResolvesBeforeTheWaitToo) {
    Completion<void> c;
    c.fail(PlatformError("Test", 3, "it broke"));
    std::string message;
    auto task = awaitError(c, &message);
    bool done = false;
    task.then([&] { done = true; });
    spinUntil([&] { return done; });
    EXPECT_EQ(message, "it broke");
}

TEST(Bitmap, RefusesBuffersShorterThanTheirRows) {
    EXPECT_THROW(Bitmap::create(10, 10, 40, PixelFormat::BGRA, AlphaMode::opaque, std::vector<uint8_t>(399)),
                 PlatformError);
    EXPECT_THROW(Bitmap::create(10, 10, 39, PixelFormat::BGRA, AlphaMode::opaque, std::vector<uint8_t>(400)),
                 PlatformError);
    EXPECT_THROW(Bitmap::create(0, 10, 40, PixelFormat::BGRA, AlphaMode::opaque, {}), PlatformError);
    auto b = Bitmap::create(10, 10, 48, PixelFormat::RGBA, AlphaMode::straight, std::vector<uint8_t>(480, 7));
    EXPECT_EQ(b->byteCount(), 480u);
    EXPECT_EQ(b->row(2) - b->data(), 96);
}

TEST(Bitmap, WrappedMemoryIsReleasedWithTheLastReference) {
    std::vector<uint8_t> mem(64 * 4);
    int released = 0;
    {
        auto b = Bitmap::wrap(8, 8, 32, PixelFormat::BGRA, AlphaMode::opaque, mem.data(), [&] { ++released; });
        auto copy = b;
        b.reset();
        EXPECT_EQ(released, 0);
    }
    EXPECT_EQ(released, 1);
}

TEST(Bitmap, QImageRoundTripKeepsPixelsAndOpaqueAlpha) {
    QImage img(3, 2, QImage::Format_RGB32);
    img.fill(QColor(10, 20, 30));
    img.setPixelColor(2, 1, QColor(200, 100, 50));
    auto b = Bitmap::fromQImage(img);
    EXPECT_EQ(b->alpha(), AlphaMode::opaque);
    const uint8_t* px = b->row(1) + 2 * 4;
    EXPECT_EQ(px[0], 50);  // B
    EXPECT_EQ(px[1], 100);
    EXPECT_EQ(px[2], 200);
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(b->asQImage().pixelColor(0, 0), QColor(10, 20, 30));
}

TEST(NotificationCenter, DeliversByNameAndStopsAfterRemoval) {
    NotificationCenter c;
    int a = 0, b = 0;
    auto ta = c.addObserver("one", [&](const QVariantMap& info) { a += info.value("n").toInt(); });
    c.addObserver("two", [&](const QVariantMap&) { ++b; });
    c.post("one", {{"n", 5}});
    c.removeObserver(ta);
    c.post("one", {{"n", 5}});
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 0);
}

TEST(PlatformErrors, PlainTextIsTheDescription) {
    PlatformError e("X", 2, "Display went away");
    EXPECT_EQ(plainText(e), "Display went away");
    EXPECT_STREQ(e.what(), "Display went away");
    EXPECT_EQ(plainText(std::runtime_error("raw")), "raw");
}
