#include "platform/core/Bitmap.h"
#include "platform/core/Error.h"
#include "platform/core/MainThread.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SerialQueue.h"

#include "support/WaitUntil.h"

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace platform;

TEST(SerialQueue, RunsJobsInOrderOnOneThreadOfItsOwnPastAFailingJob) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    {
        SerialQueue q("com.zentola.videoCapture");
        EXPECT_EQ(q.label(), "com.zentola.videoCapture");
        for (int i = 0; i < 50; ++i)
            q.async([&, i] { order.push_back(i), threads.insert(std::this_thread::get_id()); });
        q.async([] { throw std::runtime_error("a failing job must not stop the queue"); });
        q.sync([&] { order.push_back(50); });
    }
    ASSERT_EQ(order.size(), 51u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_FALSE(threads.count(std::this_thread::get_id()));
}

TEST(Completion, ResumesOnTheMainThreadOnceWithTheFirstValueOrTheError) {
    Completion<int> value;
    std::thread::id resumedOn;
    int result = -1;
    auto task = [](Completion<int> c, std::thread::id* on, int* out) -> QCoro::Task<void> {
        *out = co_await c;
        *on = std::this_thread::get_id();
    }(value, &resumedOn, &result);
    std::thread([value] { value.resolve(42), value.resolve(7); }).join();
    EXPECT_TRUE(waitUntil([&] { return result != -1; }));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(resumedOn, std::this_thread::get_id());

    Completion<void> failed;
    failed.fail(PlatformError("Test", 3, "it broke"));  // before anyone waits
    std::string message;
    auto waiter = [](Completion<void> c, std::string* m) -> QCoro::Task<void> {
        try {
            co_await c;
        } catch (const PlatformError& e) {
            *m = e.description();
        }
    }(failed, &message);
    EXPECT_TRUE(waitUntil([&] { return !message.empty(); }));
    EXPECT_EQ(message, "it broke");
}

TEST(Bitmap, RefusesShortBuffersWrapsMemoryAndRoundTripsAQImage) {
    for (auto [width, stride, bytes] : {std::tuple{10, 40, 399}, {10, 39, 400}, {0, 40, 0}})
        EXPECT_THROW(Bitmap::create(width, 10, stride, PixelFormat::BGRA, AlphaMode::opaque, std::vector<uint8_t>(bytes)),
                     PlatformError);
    auto b = Bitmap::create(10, 10, 48, PixelFormat::RGBA, AlphaMode::straight, std::vector<uint8_t>(480, 7));
    EXPECT_EQ(b->row(2) - b->data(), 96);

    std::vector<uint8_t> mem(64 * 4);
    int released = 0;
    {
        auto wrapped = Bitmap::wrap(8, 8, 32, PixelFormat::BGRA, AlphaMode::opaque, mem.data(), [&] { ++released; });
        auto copy = wrapped;
        wrapped.reset();
        EXPECT_EQ(released, 0);
    }
    EXPECT_EQ(released, 1);

    QImage img(3, 2, QImage::Format_RGB32);
    img.fill(QColor(10, 20, 30));
    img.setPixelColor(2, 1, QColor(200, 100, 50));
    auto fromImage = Bitmap::fromQImage(img);
    EXPECT_EQ(fromImage->alpha(), AlphaMode::opaque);
    const uint8_t* px = fromImage->row(1) + 2 * 4;
    EXPECT_EQ(std::vector<int>(px, px + 4), (std::vector<int>{50, 100, 200, 255}));  // B, G, R, A
    EXPECT_EQ(fromImage->asQImage().pixelColor(0, 0), QColor(10, 20, 30));
}

TEST(NotificationCenterAndErrors, DeliverByNameUntilRemovedAndSpeakPlainText) {
    NotificationCenter c;
    int a = 0, b = 0;
    auto ta = c.addObserver("one", [&](const QVariantMap& info) { a += info.value("n").toInt(); });
    c.addObserver("two", [&](const QVariantMap&) { ++b; });
    c.post("one", {{"n", 5}});
    c.removeObserver(ta);
    c.post("one", {{"n", 5}});
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 0);
    PlatformError e("X", 2, "Display went away");
    EXPECT_EQ(plainText(e), "Display went away");
    EXPECT_STREQ(e.what(), "Display went away");
    EXPECT_EQ(plainText(std::runtime_error("raw")), "raw");
}
