#pragma once

#include "platform/stream/Stream.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <qcoro/qcorotask.h>

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace streamtest {

// Runs the event loop until pred holds or the time is up; returns pred().
bool spinUntil(const std::function<bool()>& pred, int timeoutMs = 10000);
void spinFor(int ms);

// Runs a task to its end on the main thread's loop; rethrows its error.
void await(QCoro::Task<void>&& task, int timeoutMs = 15000);
template <typename T>
T await(QCoro::Task<T>&& task, int timeoutMs = 15000) {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    auto run = [&]() -> QCoro::Task<void> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto t = run();
    spinUntil([&] { return done; }, timeoutMs);
    if (error)
        std::rethrow_exception(error);
    if (!value)
        throw std::runtime_error("task did not finish");
    return std::move(*value);
}

// Collects what one output receives: every time stamp, type and thread, and the buffers
// themselves (audio all, video only the last few, so grabbed frames go back to the grabber).
class Collector : public platform::StreamOutput {
public:
    void didOutputSampleBuffer(platform::Stream&, const platform::SampleBuffer& buffer,
                               platform::StreamOutputType type) override;

    std::vector<platform::SampleBuffer> buffers() const;
    std::vector<platform::MediaTime> times() const;
    std::size_t count() const;
    bool allOnThread(std::thread::id id) const;
    std::vector<platform::StreamOutputType> types() const;

private:
    mutable std::mutex mutex_;
    std::vector<platform::SampleBuffer> buffers_;
    std::vector<platform::MediaTime> times_;
    std::vector<platform::StreamOutputType> types_;
    std::vector<std::thread::id> threads_;
};

class Delegate : public platform::StreamDelegate {
public:
    void didStopWithError(platform::Stream& stream, const platform::PlatformError& error) override;

    int calls = 0;
    bool onMainThread = false;
    std::optional<platform::PlatformError> error;
};

// Plain X windows with a solid background, made on a connection of the test's own.
class TestWindows {
public:
    TestWindows();
    ~TestWindows();
    // A mapped, unmanaged window filled with 0xRRGGBB.
    xcb_window_t create(int x, int y, int w, int h, quint32 rgb);
    void raise(xcb_window_t w);
    void move(xcb_window_t w, int x, int y);
    void setMapped(xcb_window_t w, bool mapped);
    void destroy(xcb_window_t w);
    void movePointer(int x, int y);
    void sync();
    xcb_connection_t* connection() const { return c_; }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::vector<xcb_window_t> windows_;
};

// BGR(A) of one pixel as 0xRRGGBB.
quint32 rgbAt(const platform::Bitmap& bitmap, int x, int y);
// Largest absolute sample of an audio buffer.
float peak(const platform::SampleBuffer& buffer);

// A three-second 440 Hz stereo tone played into a pulse sink (paplay of a sox-made file).
class Tone {
public:
    explicit Tone(const QString& sink, int seconds = 3);
    ~Tone();

private:
    QString file_;
    QProcess player_;
};

}  // namespace streamtest
