#include "StreamTestSupport.h"

#include "platform/core/SerialQueue.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;
using namespace streamtest;

namespace {

// A server this test starts and kills; the environment variable that points clients at it is
// restored afterwards so nothing else is affected.
class OwnServer {
public:
    OwnServer(const char* variable, QString value) : variable_(variable), saved_(qgetenv(variable)) {
        qputenv(variable, value.toUtf8());
    }
    ~OwnServer() {
        kill();
        qputenv(variable_, saved_);
    }
    void start(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
        process_.setProcessEnvironment(env);
        process_.setProgram(program);
        process_.setArguments(args);
        process_.start();
        ASSERT_TRUE(process_.waitForStarted());
    }
    // SIGTERM still drops every client at once, and lets an X server remove its socket and lock.
    void kill(int signal = SIGKILL) {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), signal);
            process_.waitForFinished(5000);
        }
    }

private:
    const char* variable_;
    QByteArray saved_;
    QProcess process_;
};

bool pulseAnswers(const QString& server) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", server);
    p.setProcessEnvironment(env);
    p.start("pactl", {"info"});
    return p.waitForFinished(2000) && p.exitCode() == 0;
}

}  // namespace

TEST(StreamSourceLoss, ASoundServerThatDiesEndsTheStreamThroughTheDelegate) {
    QTemporaryDir dir;
    const QString socket = dir.path() + "/native";
    const QString server = "unix:" + socket;
    OwnServer pulse("PULSE_SERVER", server);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    // No session bus: it would clash with the shared server's bus name.
    env.remove("DISPLAY");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.path() + "/no-bus");
    pulse.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "--disallow-exit",
                               "--log-target=file:" + dir.path() + "/pulse.log", "-L",
                               "module-native-protocol-unix socket=" + socket + " auth-anonymous=1", "-L",
                               "module-null-sink sink_name=loss_sink"},
                env);
    ASSERT_TRUE(spinUntil([&] { return pulseAnswers(server); }, 10000))
        << "private pulse server did not start: " << [&] {
               QFile log(dir.path() + "/pulse.log");
               log.open(QIODevice::ReadOnly);
               return log.readAll().toStdString();
           }();

    StreamConfiguration config;
    config.width = 320;
    config.height = 240;
    config.minimumFrameInterval = MediaTime::make(1, 30);
    config.capturesAudio = true;
    ShareableDisplay display;
    display.nativeGeometry = QRect(0, 0, 320, 240);
    display.width = 320;
    display.height = 240;
    Delegate delegate;
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &delegate);
    Collector video, audio;
    auto videoQueue = std::make_shared<SerialQueue>("com.zentola.videoCapture");
    stream.addStreamOutput(&video, StreamOutputType::screen, videoQueue);
    stream.addStreamOutput(&audio, StreamOutputType::audio, std::make_shared<SerialQueue>("com.zentola.audioCapture"));
    await(stream.startCapture());
    ASSERT_TRUE(spinUntil([&] { return audio.count() > 0 && video.count() > 0; }, 10000));

    pulse.kill();
    ASSERT_TRUE(spinUntil([&] { return delegate.calls > 0; }, 10000));
    EXPECT_TRUE(delegate.onMainThread);
    ASSERT_TRUE(delegate.error);
    EXPECT_EQ(delegate.error->domain(), "AudioCapture");
    // The whole stream has stopped: the screen too. The delegate hears of it once every source
    // has stopped, so what the video queue still holds was handed over before.
    videoQueue->sync([] {});
    const std::size_t frames = video.count();
    spinFor(300);
    EXPECT_EQ(video.count(), frames);
    EXPECT_EQ(delegate.calls, 1);
    // Stopping a stream that ended by itself is not an error.
    EXPECT_NO_THROW(await(stream.stopCapture()));

    // With the server gone, a new audio output cannot open.
    Stream next(ContentFilter::forDisplay(display, {}, {}), config, nullptr);
    EXPECT_THROW(next.addStreamOutput(&audio, StreamOutputType::audio,
                                      std::make_shared<SerialQueue>("com.zentola.audioCapture")),
                 PlatformError);
}

TEST(StreamSourceLoss, AnXServerThatDiesEndsTheStreamThroughTheDelegate) {
    int n = 150;
    while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
        ++n;
    const QString name = QString(":%1").arg(n);
    OwnServer x("DISPLAY", name);
    x.start("Xvfb", {name, "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset", "+extension", "MIT-SHM"},
            QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(spinUntil(
        [&] {
            xcb_connection_t* c = xcb_connect(name.toUtf8().constData(), nullptr);
            const bool ok = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            return ok;
        },
        10000));

    StreamConfiguration config;
    config.minimumFrameInterval = MediaTime::make(1, 60);
    ShareableDisplay display;
    display.nativeGeometry = QRect(0, 0, 640, 480);
    display.width = 640;
    display.height = 480;
    Delegate delegate;
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, &delegate);
    Collector video;
    stream.addStreamOutput(&video, StreamOutputType::screen, std::make_shared<SerialQueue>("com.zentola.videoCapture"));
    await(stream.startCapture());
    ASSERT_TRUE(spinUntil([&] { return video.count() > 3; }, 5000));
    EXPECT_EQ(video.buffers().back().imageBuffer()->width(), 640);

    x.kill(SIGTERM);
    ASSERT_TRUE(spinUntil([&] { return delegate.calls > 0; }, 10000));
    EXPECT_TRUE(delegate.onMainThread);
    ASSERT_TRUE(delegate.error);
    EXPECT_EQ(delegate.error->domain(), "X11");
    EXPECT_NO_THROW(await(stream.stopCapture()));
    EXPECT_EQ(delegate.calls, 1);
}

TEST(StreamSourceLoss, ASoundServerThatNeverAnswersFailsTheOutputInsteadOfHanging) {
    QTemporaryDir dir;
    const QByteArray path = (dir.path() + "/silent").toUtf8();
    // A socket that takes connections into its backlog and never speaks.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.constData(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    OwnServer silent("PULSE_SERVER", "unix:" + QString::fromUtf8(path));

    StreamConfiguration config;
    config.capturesAudio = true;
    ShareableDisplay display;
    display.nativeGeometry = QRect(0, 0, 64, 64);
    Stream stream(ContentFilter::forDisplay(display, {}, {}), config, nullptr);
    Collector audio;
    try {
        stream.addStreamOutput(&audio, StreamOutputType::audio, std::make_shared<SerialQueue>("com.zentola.audioCapture"));
        ADD_FAILURE() << "a silent server must not open";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.domain(), "AudioCapture");
    }
    ::close(fd);
}
