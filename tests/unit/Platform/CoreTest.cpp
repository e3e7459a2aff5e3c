#include "platform/core/Bitmap.h"
#include "platform/core/Error.h"
#include "platform/core/MainThread.h"
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
        for (int i = 0; i < 50; ++i)
            q.async([&, i] { order.push_back(i), threads.insert(std::this_thread::get_id()); });
        q.async([] { throw std::runtime_error("a failing job must not stop the queue"); });
        q.sync([&] { order.push_back(50); });
    }
    EXPECT_EQ(order.size(), 51u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_FALSE(threads.count(std::this_thread::get_id()));
}

TEST(Completion, ResumesOnTheMainThreadOnceWithTheFirstValueOrWithAnErrorGivenBeforeTheWait) {
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
    failed.fail(PlatformError("Test", 3, "it broke"));
    std::string message;
    auto waiter = [](Completion<void> c, std::string* m) -> QCoro::Task<void> {
        try {
            co_await c;
        } catch (const std::exception& e) {
            *m = plainText(e);
        }
    }(failed, &message);
    EXPECT_TRUE(waitUntil([&] { return !message.empty(); }));
    EXPECT_EQ(message, "it broke");
    EXPECT_STREQ(PlatformError("Test", 3, "it broke").what(), "it broke");
    EXPECT_EQ(plainText(std::runtime_error("raw")), "raw");
}

TEST(Bitmap, RefusesBuffersShorterThanTheirRowsAndReleasesWrappedMemoryWithTheLastReference) {
    for (auto [width, stride, bytes] : {std::tuple{10, 40, 399}, {10, 39, 400}, {0, 40, 0}})
        EXPECT_THROW(Bitmap::create(width, 10, stride, PixelFormat::BGRA, AlphaMode::opaque, std::vector<uint8_t>(bytes)),
                     PlatformError);
    std::vector<uint8_t> mem(64 * 4);
    int released = 0;
    {
        auto wrapped = Bitmap::wrap(8, 8, 32, PixelFormat::BGRA, AlphaMode::opaque, mem.data(), [&] { ++released; });
        auto copy = wrapped;
        wrapped.reset();
        EXPECT_EQ(released, 0);
        EXPECT_EQ(copy->row(2) - copy->data(), 64);
    }
    EXPECT_EQ(released, 1);
}
