#include "StreamTestSupport.h"

#include "platform/core/MainThread.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUuid>

#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace streamtest {

bool spinUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pred();
}

void spinFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void await(QCoro::Task<void>&& task, int timeoutMs) {
    auto done = [](QCoro::Task<void> t) -> QCoro::Task<bool> {
        co_await std::move(t);
        co_return true;
    };
    await(done(std::move(task)), timeoutMs);
}

void Collector::didOutputSampleBuffer(platform::Stream&, const platform::SampleBuffer& buffer,
                                      platform::StreamOutputType type) {
    std::lock_guard lock(mutex_);
    buffers_.push_back(buffer);
    if (buffer.isVideo() && buffers_.size() > 3)
        buffers_.erase(buffers_.begin());
    times_.push_back(buffer.presentationTimeStamp());
    types_.push_back(type);
    threads_.push_back(std::this_thread::get_id());
}

std::vector<platform::MediaTime> Collector::times() const {
    std::lock_guard lock(mutex_);
    return times_;
}

std::vector<platform::SampleBuffer> Collector::buffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
}

std::size_t Collector::count() const {
    std::lock_guard lock(mutex_);
    return times_.size();
}

bool Collector::allOnThread(std::thread::id id) const {
    std::lock_guard lock(mutex_);
    for (auto t : threads_)
        if (t != id)
            return false;
    return true;
}

std::vector<platform::StreamOutputType> Collector::types() const {
    std::lock_guard lock(mutex_);
    return types_;
}

void Delegate::didStopWithError(platform::Stream&, const platform::PlatformError& e) {
    ++calls;
    onMainThread = platform::isMainThread();
    error = e;
}

TestWindows::TestWindows() {
    c_ = xcb_connect(nullptr, nullptr);
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
}

TestWindows::~TestWindows() {
    for (auto w : windows_)
        xcb_destroy_window(c_, w);
    xcb_flush(c_);
    xcb_disconnect(c_);
}

xcb_window_t TestWindows::create(int x, int y, int w, int h, quint32 rgb) {
    const xcb_window_t win = xcb_generate_id(c_);
    const quint32 values[] = {rgb, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, win, screen_->root, x, y, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    // Owned by this process, as a toolkit would mark it.
    const quint32 pid = static_cast<quint32>(getpid());
    auto cookie = xcb_intern_atom(c_, 0, 11, "_NET_WM_PID");
    if (auto* r = xcb_intern_atom_reply(c_, cookie, nullptr)) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, win, r->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        free(r);
    }
    xcb_map_window(c_, win);
    windows_.push_back(win);
    sync();
    return win;
}

void TestWindows::raise(xcb_window_t w) {
    const quint32 v[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, v);
    sync();
}

void TestWindows::move(xcb_window_t w, int x, int y) {
    const quint32 v[] = {quint32(x), quint32(y)};
    xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, v);
    sync();
}

void TestWindows::setMapped(xcb_window_t w, bool mapped) {
    if (mapped)
        xcb_map_window(c_, w);
    else
        xcb_unmap_window(c_, w);
    sync();
}

void TestWindows::destroy(xcb_window_t w) {
    xcb_destroy_window(c_, w);
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
    sync();
}

void TestWindows::movePointer(int x, int y) {
    xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen_->root, x, y, 0);
    sync();
}

void TestWindows::sync() {
    free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

quint32 rgbAt(const platform::Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.row(y) + x * 4;
    return (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | p[0];
}

float peak(const platform::SampleBuffer& buffer) {
    const auto* s = reinterpret_cast<const float*>(buffer.audioData());
    const int n = buffer.audioFrameCount() * buffer.audioFormat().channelCount;
    float m = 0;
    for (int i = 0; i < n; ++i)
        m = std::max(m, std::fabs(s[i]));
    return m;
}

Tone::Tone(const QString& sink, int seconds) {
    file_ = QDir::tempPath() + "/zentola-tone-" + QUuid::createUuid().toString(QUuid::WithoutBraces) + ".wav";
    QProcess::execute("sox", {"-n", "-r", "48000", "-c", "2", file_, "synth", QString::number(seconds), "sine", "440",
                              "vol", "0.5"});
    // A short latency makes the null sink render in small blocks, as a sound card would.
    player_.start("paplay", {"--device=" + sink, "--latency-msec=20", file_});
    player_.waitForStarted();
}

Tone::~Tone() {
    if (player_.state() != QProcess::NotRunning) {
        player_.kill();
        player_.waitForFinished(3000);
    }
    QFile::remove(file_);
}

}  // namespace streamtest
