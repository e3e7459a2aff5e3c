#include "Features/Onboarding/OnboardingView.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <csignal>
#include <memory>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

const QString app = QStringLiteral(ZENTOLA_APP_PATH);

// The real program in a private home and session, driven by real key presses and pointer moves.
class ZentolaAppTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
        QDir root(home.path());
        for (const char* folder : {"config/zentola", "shots", "videos", "run"})
            root.mkpath(folder);
        QFile::setPermissions(root.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Values of another tool and of a later version, which the app must leave as they are.
        foreign = QJsonDocument::fromJson(R"({"other.tool": [1, {"a": null}], "zentola.future": {"x": null},
                                              "nothing": null})").object();
        QJsonObject seed = foreign;
        seed.insert("zentola.screenshotFolderBookmark", root.filePath("shots"));
        seed.insert("zentola.videoFolderBookmark", root.filePath("videos"));
        seed.insert("zentola.playSounds", false);
        QFile file(home.filePath("config/zentola/defaults.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(seed).toJson());
        file.close();
        env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");  // Qt then puts its icon into the X11 tray
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", root.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", root.filePath("run"));
    }

    void TearDown() override {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    }

    QProcess& launch(const QString& program = app, const QStringList& arguments = {}) {
        QProcess& p = *processes.emplace_back(std::make_unique<QProcess>());
        p.setObjectName(QStringLiteral("log-%1").arg(processes.size()));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setStandardOutputFile(home.filePath(p.objectName()));
        p.start(program, arguments);
        EXPECT_TRUE(p.waitForStarted());
        return p;
    }
    void terminate(QProcess& p, int signal = SIGTERM) {
        ::kill(pid_t(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(20000));
        if (signal == SIGTERM)
            EXPECT_EQ(p.exitCode(), 0) << log(p).toStdString();
    }
    QByteArray read(const QString& name) const {
        QFile f(home.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString log(const QProcess& p) const { return QString::fromUtf8(read(p.objectName())); }
    QByteArray settingsBytes() const { return read("config/zentola/defaults.json"); }
    QJsonObject settings() const { return QJsonDocument::fromJson(settingsBytes()).object(); }
    // Start-up ends by storing the default shortcuts; from then on the keys are grabbed.
    bool started() const { return settings().contains("GlobalShortcuts_quickRecord"); }
    // Holds the session's lock and, without a tray host, has said so: it is up and answers signals.
    bool upWithoutTray(const QProcess& p) const {
        return read("run/com.zentola.Zentola.lock").toLongLong() == p.processId() &&
               log(p).contains("[Zentola] No system tray is available");
    }
    static void xdotool(const QString& commands) {
        ASSERT_EQ(QProcess::execute("xdotool", commands.split(' ')), 0) << commands.toStdString();
    }

    QTemporaryDir home;
    QJsonObject foreign;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(ZentolaAppTest, OneCopyPerSession_SettingsKeptWhole_WrittenInBatchesAndOnSigterm) {
    QProcess& first = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(first).toStdString();
    for (auto it = foreign.begin(); it != foreign.end(); ++it)
        EXPECT_EQ(settings().value(it.key()), it.value()) << it.key().toStdString();
    // No tray host runs here.
    EXPECT_EQ(log(first).count("[Zentola] No system tray is available"), 1) << log(first).toStdString();

    const QByteArray before = settingsBytes();
    QProcess& second = launch();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(log(second), QStringLiteral("[Zentola] Zentola is already running (process %1); this launch ends\n")
                               .arg(first.processId()));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(settingsBytes(), before);

    // A drag in the overlay changes the rectangle at every step; the file is replaced a few times.
    xdotool("mousemove 300 300 key --clearmodifiers ctrl+shift+6");  // the overlay's active display is the pointer's
    XClient x;
    const auto overlayUnderPointer = [&] {
        auto pointer = freed(xcb_query_pointer_reply(x.c, xcb_query_pointer(x.c, x.root), nullptr));
        return pointer && x.cardinal(pointer->child, "_NET_WM_PID") == quint32(first.processId());
    };
    ASSERT_TRUE(waitUntil(overlayUnderPointer, 10000));
    const int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(home.filePath("config/zentola")).constData(), IN_MOVED_TO);
    QString drag = "mousedown 1";
    for (int step = 1; step <= 40; ++step)
        drag += QStringLiteral(" sleep 0.02 mousemove %1 %2").arg(300 + step * 10).arg(300 + step * 7);
    xdotool(drag + " mouseup 1 key --clearmodifiers ctrl+shift+6");
    // The shortcut comes after the drag: once it is handled, so is the drag. Then at once, while the
    // last rectangle is still waiting to be written.
    ASSERT_TRUE(waitUntil([&] { return log(first).contains("[Zentola] Overlay already visible, hiding"); }, 10000));
    terminate(first);
    int replaced = 0;
    char buffer[4096];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
            replaced += QByteArray(reinterpret_cast<inotify_event*>(p)->name) == "defaults.json";
    ::close(watch);
    EXPECT_GE(replaced, 1);
    EXPECT_LE(replaced, 4);
    const auto rect = QJsonDocument::fromJson(
        QByteArray::fromBase64(settings().value("zentola.savedRect").toObject().value("data").toString().toLatin1()));
    EXPECT_EQ(rect["origin"].toArray(), (QJsonArray{300, 300})) << settingsBytes().toStdString();
    EXPECT_EQ(rect["size"].toArray(), (QJsonArray{400, 280}));

    // "Quit and Reopen" starts the new copy once this one has gone, however long that takes; and a
    // copy that was killed blocks nothing.
    QProcess& killed = launch();
    ASSERT_TRUE(waitUntil([&] { return upWithoutTray(killed); }, 10000)) << log(killed).toStdString();
    QProcess& reopened = launch("/bin/sh", {"-c", zentola::OnboardingView::reopenCommand(app, killed.processId())});
    spinFor(1000);
    terminate(killed, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return upWithoutTray(reopened); }, 10000)) << log(reopened).toStdString();
    terminate(reopened);
}

TEST_F(ZentolaAppTest, InTheTray_ShortcutsCaptureAndRecord_SigtermFinishesTheMovie) {
    // A dark panel: the glyph must still show.
    QProcess& tray = launch("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                                       "--heighttype", "pixel", "--height", "24", "--transparent", "true", "--alpha",
                                       "0", "--tint", "0x202020"});
    QProcess& zentola = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    EXPECT_FALSE(log(zentola).contains("No system tray"));
    XClient x;
    const auto brightest = [&] {  // on the panel, top right of the first monitor
        int most = 0;
        for (int y = 0; y < 24; ++y)
            for (int left = 1820; left < 1920; ++left)
                most = std::max(most, qGray(QRgb(x.pixel(left, y).value_or(0))));
        return most;
    };
    EXPECT_TRUE(waitUntil([&] { return brightest() >= 200; }, 5000)) << brightest();

    xdotool("key --clearmodifiers ctrl+shift+7");
    const QDir shots(home.filePath("shots"));
    ASSERT_TRUE(waitUntil([&] { return !shots.entryList(QDir::Files).isEmpty(); }, 15000)) << log(zentola).toStdString();
    const QString name = shots.entryList(QDir::Files).front();
    EXPECT_TRUE(name.startsWith("Screenshot ") && name.endsWith(".png")) << name.toStdString();
    QImage shot;
    ASSERT_TRUE(waitUntil([&] { return shot.load(shots.filePath(name)); }, 5000));
    EXPECT_EQ(shot.size(), QSize(1920, 1080));

    xdotool("key --clearmodifiers ctrl+shift+8");
    ASSERT_TRUE(waitUntil([&] { return log(zentola).contains("Started writing session"); }, 15000))
        << log(zentola).toStdString();
    spinFor(1000);
    terminate(zentola);
    const QStringList movies = QDir(home.filePath("videos")).entryList(QDir::Files);
    ASSERT_EQ(movies.size(), 1);
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                            home.filePath("videos/" + movies.front())});
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), "h264");
    tray.terminate();
}

}  // namespace
