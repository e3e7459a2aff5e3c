#pragma once

// The real desktop of the integration tests, header only (the tests that use it link xcb): plain
// X windows of known colour, sound played into the pulse server's sinks as it is heard, and
// servers of a test's own.
#include "platform/core/Bitmap.h"

#include <QProcess>
#include <QString>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace live {

// Unmanaged windows with a solid background, made on a connection of the test's own; safe to use
// from any thread.
class Windows {
public:
    Windows() : c_(xcb_connect(nullptr, nullptr)), screen_(xcb_setup_roots_iterator(xcb_get_setup(c_)).data) {}
    ~Windows() {
        for (auto w : windows_)
            xcb_destroy_window(c_, w);
        xcb_disconnect(c_);
    }
    // A mapped window filled with 0xRRGGBB, marked as this process's own as a toolkit would.
    xcb_window_t create(int x, int y, int w, int h, quint32 rgb) {
        const xcb_window_t win = make(x, y, w, h, rgb, true);
        xcb_map_window(c_, win);
        sync();
        return win;
    }
    // A mapped top-level window as an application makes it: a window manager, when one runs,
    // manages it (frames it, lists it) at the place asked for. Returns once it shows.
    xcb_window_t createManaged(int x, int y, int w, int h, quint32 rgb) {
        const xcb_window_t win = make(x, y, w, h, rgb, false);
        // WM_NORMAL_HINTS with a position and size the user asked for, which managers keep.
        const quint32 hints[18] = {1 | 2, quint32(x), quint32(y), quint32(w), quint32(h)};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        xcb_map_window(c_, win);
        for (int i = 0; i < 500; ++i) {
            auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, win), nullptr);
            const bool shown = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            free(a);
            if (shown && (!managerRuns() || listed(win)))
                break;
            QThread::msleep(10);
        }
        return win;
    }
    void fill(xcb_window_t w, quint32 rgb) {
        xcb_change_window_attributes(c_, w, XCB_CW_BACK_PIXEL, &rgb);
        xcb_clear_area(c_, 0, w, 0, 0, 0, 0);
        sync();
    }
    void raise(xcb_window_t w) { configure(w, XCB_CONFIG_WINDOW_STACK_MODE, {XCB_STACK_MODE_ABOVE}); }
    void move(xcb_window_t w, int x, int y) {
        configure(w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, {quint32(x), quint32(y)});
    }
    void setMapped(xcb_window_t w, bool mapped) {
        mapped ? xcb_map_window(c_, w) : xcb_unmap_window(c_, w);
        sync();
    }
    void destroy(xcb_window_t w) {
        xcb_destroy_window(c_, w);
        windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
        sync();
    }
    // Returns once the server has done everything asked so far.
    void sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_window_t make(int x, int y, int w, int h, quint32 rgb, bool overrideRedirect) {
        const xcb_window_t win = xcb_generate_id(c_);
        const quint32 values[] = {rgb, overrideRedirect ? 1u : 0u};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, win, screen_->root, qint16(x), qint16(y), quint16(w), quint16(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        const quint32 pid = quint32(getpid());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, win, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        windows_.push_back(win);
        return win;
    }
    xcb_atom_t atom(const char* name) {
        xcb_atom_t a = XCB_NONE;
        if (auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, quint16(strlen(name)), name), nullptr)) {
            a = r->atom;
            free(r);
        }
        return a;
    }
    std::vector<quint32> windowsOf(xcb_window_t on, const char* property) {
        std::vector<quint32> ids;
        if (auto* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, on, atom(property), XCB_ATOM_WINDOW, 0, 4096), nullptr)) {
            const auto* v = static_cast<const quint32*>(xcb_get_property_value(r));
            ids.assign(v, v + xcb_get_property_value_length(r) / 4);
            free(r);
        }
        return ids;
    }
    // A window manager announces itself with a check window that names itself.
    bool managerRuns() {
        const auto check = windowsOf(screen_->root, "_NET_SUPPORTING_WM_CHECK");
        return !check.empty() && windowsOf(check[0], "_NET_SUPPORTING_WM_CHECK") == check;
    }
    bool listed(xcb_window_t w) {
        const auto list = windowsOf(screen_->root, "_NET_CLIENT_LIST_STACKING");
        return std::find(list.begin(), list.end(), w) != list.end();
    }
    void configure(xcb_window_t w, quint16 mask, std::vector<quint32> values) {
        xcb_configure_window(c_, w, mask, values.data());
        sync();
    }

    xcb_connection_t* c_;
    xcb_screen_t* screen_;
    std::vector<xcb_window_t> windows_;
};

// 0xRRGGBB of one pixel of a BGRA bitmap.
inline quint32 rgbAt(const platform::Bitmap& b, int x, int y) {
    const std::uint8_t* p = b.row(y) + x * 4;
    return (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | p[0];
}

// Sound played into a pulse sink as it is made: a 440 Hz tone in 10 ms chunks written to pacat in
// real time. A feed that starts silent writes nothing (the sink plays silence for it) until its
// tone starts: no silence queued before the tone, so the tone is heard within a few milliseconds.
class SoundFeed {
public:
    explicit SoundFeed(const QString& sink, bool tone = true) : tone_(tone) {
        std::signal(SIGPIPE, SIG_IGN);  // pacat ends with its server
        const QString command = "exec pacat --playback --raw --format=float32le --rate=48000 --channels=2 "
                                "--latency-msec=10 --device=" + sink;
        pipe_ = popen(command.toLocal8Bit().constData(), "w");
        thread_ = std::thread([this] { run(); });
    }
    ~SoundFeed() {
        running_ = false;
        thread_.join();
        if (pipe_)
            pclose(pipe_);
    }
    // The tone from the next chunk on; atOnset runs on the feeding thread just before it is written.
    void startTone(std::function<void()> atOnset = {}) {
        onset_ = std::move(atOnset);
        startTone_ = true;
    }

private:
    void run() {
        std::vector<float> chunk(480 * 2);
        long long frame = 0;
        auto due = std::chrono::steady_clock::now();
        while (running_ && pipe_) {
            if (startTone_.exchange(false)) {
                if (onset_)
                    onset_();
                tone_ = true;
            }
            if (!tone_) {
                std::this_thread::sleep_until(due += std::chrono::milliseconds(10));
                continue;
            }
            for (std::size_t i = 0; i < chunk.size(); i += 2, ++frame)
                chunk[i] = chunk[i + 1] = tone_ ? float(0.5 * std::sin(2 * M_PI * 440.0 * double(frame) / 48000.0)) : 0.f;
            // Past stdio: a full pipe (pacat waiting for its server) must not hold the stream's lock,
            // which every fflush of the test's own output takes.
            if (::write(fileno(pipe_), chunk.data(), chunk.size() * sizeof(float)) != ssize_t(chunk.size() * sizeof(float)))
                return;
            std::this_thread::sleep_until(due += std::chrono::milliseconds(10));
        }
    }

    FILE* pipe_ = nullptr;
    std::atomic<bool> running_{true}, startTone_{false};
    bool tone_;
    std::function<void()> onset_;
    std::thread thread_;
};

// pactl's answer to a question of the pulse server PULSE_SERVER names.
inline QString pactl(const QStringList& args) {
    QProcess p;
    p.start("pactl", args);
    p.waitForFinished(10000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
}

// A server this test starts and kills. The environment variable that points clients at it is set
// for the test's life and restored afterwards, so nothing else is affected.
class OwnServer {
public:
    OwnServer(const char* variable, const QString& value) : variable_(variable), saved_(qgetenv(variable)) {
        qputenv(variable, value.toUtf8());
    }
    ~OwnServer() {
        kill();
        qputenv(variable_, saved_);
    }
    // A free X display name, ":150" on: no socket, no lock, and no server answering on it (a
    // server may listen on the abstract socket alone).
    static QString freeDisplay() {
        for (int n = 150;; ++n) {
            const QString name = QString(":%1").arg(n);
            if (access(QString("/tmp/.X11-unix/X%1").arg(n).toLocal8Bit().constData(), F_OK) == 0 ||
                access(QString("/tmp/.X%1-lock").arg(n).toLocal8Bit().constData(), F_OK) == 0)
                continue;
            xcb_connection_t* c = xcb_connect(name.toLocal8Bit().constData(), nullptr);
            const bool taken = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            if (!taken)
                return name;
        }
    }
    bool running() const { return process_.state() == QProcess::Running; }
    // Whether the X server DISPLAY names takes connections, waiting up to tries * 50 ms.
    static bool answers(int tries) {
        for (int i = 0; i < tries; ++i) {
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            const bool up = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            if (up)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void start(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(env);
        process_.start(program, args);
        process_.waitForStarted();
    }
    // SIGTERM still drops every client at once, and lets an X server remove its socket and lock.
    void kill(int signal = SIGKILL) {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(pid_t(process_.processId()), signal);
            process_.waitForFinished(5000);
        }
    }

private:
    const char* variable_;
    QByteArray saved_;
    QProcess process_;
};

// A pulse server of the test's own on a socket in `folder`, with one null sink as its output; its
// monitor is the default input. Starts again on the same socket after a kill.
class OwnPulseServer : public OwnServer {
public:
    explicit OwnPulseServer(const QString& folder) : OwnServer("PULSE_SERVER", "unix:" + folder + "/native"), folder_(folder) {}
    bool start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", folder_);
        env.insert("XDG_RUNTIME_DIR", folder_);
        env.remove("DISPLAY");  // no session bus either: it would clash with the shared server's name
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_ + "/no-bus");
        OwnServer::start("pulseaudio",
                         {"-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "--disallow-exit",
                          "--log-target=file:" + folder_ + "/pulse.log", "-L",
                          "module-native-protocol-unix socket=" + folder_ + "/native auth-anonymous=1", "-L",
                          "module-null-sink sink_name=own_sink"},
                         env);
        for (int i = 0; i < 100 && pactl({"info"}).isEmpty(); ++i)
            QThread::msleep(50);
        pactl({"set-default-source", "own_sink.monitor"});
        return !pactl({"info"}).isEmpty();
    }

private:
    QString folder_;
};

// A real Xorg server of the test's own with the dummy video driver and no input devices: real RandR
// outputs (DUMMY0..15) that xrandr can move, turn off and on, and the xfree86 key codes of a server
// without evdev, unlike Xvfb's. Laid out as two 1920x1080 monitors side by side, DUMMY0 primary on
// the left. DISPLAY names it for the test's life.
class OwnXorgServer : public OwnServer {
public:
    explicit OwnXorgServer(const QString& folder) : OwnServer("DISPLAY", freeDisplay()), folder_(folder) {}
    ~OwnXorgServer() { kill(SIGTERM); }  // lets the server remove its socket and lock
    bool start() {
        const QString config = folder_ + "/xorg.conf";
        if (FILE* f = std::fopen(config.toLocal8Bit().constData(), "w")) {
            std::fputs("Section \"ServerFlags\"\n Option \"AutoAddDevices\" \"false\"\n"
                       " Option \"AutoEnableDevices\" \"false\"\n Option \"DontVTSwitch\" \"true\"\nEndSection\n"
                       "Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\n VideoRam 256000\nEndSection\n"
                       "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 5.0 - 1000.0\n VertRefresh 5.0 - 200.0\nEndSection\n"
                       "Section \"Screen\"\n Identifier \"s\"\n Device \"d\"\n Monitor \"m\"\n DefaultDepth 24\n"
                       " SubSection \"Display\"\n  Depth 24\n  Virtual 7680 2160\n EndSubSection\nEndSection\n",
                       f);
            std::fclose(f);
        }
        const QString display = qEnvironmentVariable("DISPLAY");
        OwnServer::start("Xorg", {display, "-config", config, "-noreset", "-nolisten", "tcp", "-novtswitch",
                                  "-sharevts", "-logfile", folder_ + "/xorg.log"});
        return answers(200) && running() && xrandr({"--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x0", "--primary"}) &&
               xrandr({"--addmode", "DUMMY1", "1920x1080"}) &&
               xrandr({"--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0"});
    }
    // Runs xrandr against this server; true when it succeeded.
    static bool xrandr(const QStringList& args) {
        QProcess p;
        p.start("xrandr", args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private:
    QString folder_;
};

// Xvfb of the test's own, one 3840x1080 screen, that the test can kill. DISPLAY names it for the
// test's life; clients made before keep the shared server. It never resets: a reset as the first
// client leaves would drop the next one as it connects.
class OwnXvfbServer : public OwnServer {
public:
    OwnXvfbServer() : OwnServer("DISPLAY", freeDisplay()) {}
    ~OwnXvfbServer() { kill(SIGTERM); }
    bool start() {
        const QString display = qEnvironmentVariable("DISPLAY");
        OwnServer::start("Xvfb", {display, "-screen", "0", "3840x1080x24", "-noreset", "-nolisten", "tcp", "+extension", "MIT-SHM"});
        return answers(200) && running();
    }
};

}  // namespace live
