#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

bool waitFor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The real program in a private home, with a tray host on the X server, driven by real key presses.
class ZentolaAppTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
        ASSERT_TRUE(home.isValid());
        QDir root(home.path());
        root.mkpath("config/zentola");
        root.mkpath("shots");
        root.mkpath("videos");
        QFile defaults(root.filePath("config/zentola/defaults.json"));
        ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
        defaults.write(QStringLiteral("{\"zentola.screenshotFolderBookmark\": \"%1\", "
                                      "\"zentola.videoFolderBookmark\": \"%2\", \"zentola.playSounds\": false}")
                           .arg(root.filePath("shots"), root.filePath("videos"))
                           .toUtf8());
        defaults.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Without a session bus Qt puts the tray icon into the X11 tray.
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", root.filePath("config"));
        if (!QStandardPaths::findExecutable("trayer").isEmpty()) {
            tray.setProcessEnvironment(env);
            tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                                  "--heighttype", "pixel", "--height", "24"});
            tray.waitForStarted();
        }
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(ZENTOLA_APP_PATH, {});
        ASSERT_TRUE(app.waitForStarted());
        // The shortcuts are stored as the last step of start-up; from then on the keys are grabbed.
        ASSERT_TRUE(waitFor([&] { return storedDefaults().contains("GlobalShortcuts_quickRecord"); }, 15000))
            << output().toStdString();
    }

    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished();
        }
        if (tray.state() != QProcess::NotRunning) {
            tray.terminate();
            if (!tray.waitForFinished(3000))
                tray.kill();
        }
    }

    QByteArray storedDefaults() const {
        QFile f(QDir(home.path()).filePath("config/zentola/defaults.json"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString output() {
        // No event loop runs here: pull what the pipe holds.
        while (app.state() == QProcess::Running && app.waitForReadyRead(10)) {
        }
        log += QString::fromUtf8(app.readAll());
        return log;
    }

    static void press(const QString& keys) {
        ASSERT_EQ(QProcess::execute("xdotool", {"key", "--clearmodifiers", keys}), 0);
    }

    QStringList files(const QString& folder) const {
        return QDir(QDir(home.path()).filePath(folder)).entryList(QDir::Files);
    }

    void terminateAndExpectCleanExit() {
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        ASSERT_TRUE(app.waitForFinished(20000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0) << output().toStdString();
    }

    QTemporaryDir home;
    QProcess tray;
    QProcess app;
    QString log;
};

TEST_F(ZentolaAppTest, InstantCaptureShortcutSavesTheMainDisplayThenSigtermQuitsCleanly) {
    press("ctrl+shift+7");
    ASSERT_TRUE(waitFor([&] { return !files("shots").isEmpty(); }, 15000)) << output().toStdString();
    const QString name = files("shots").front();
    EXPECT_TRUE(name.startsWith("Screenshot ") && name.endsWith(".png")) << name.toStdString();
    // Read once the writer has finished: a complete PNG of the main display.
    QImage shot;
    ASSERT_TRUE(waitFor([&] { return shot.load(QDir(home.path()).filePath("shots/" + name)); }, 5000));
    EXPECT_EQ(shot.size(), QSize(1920, 1080));
    EXPECT_TRUE(output().contains("[Zentola] Instant capture shortcut triggered"));
    terminateAndExpectCleanExit();
}

TEST_F(ZentolaAppTest, SigtermDuringAQuickRecordingFinishesTheMovie) {
    press("ctrl+shift+8");
    ASSERT_TRUE(waitFor([&] { return output().contains("[Zentola] Quick record started"); }, 15000))
        << output().toStdString();
    ASSERT_TRUE(waitFor([&] { return output().contains("Started writing session"); }, 10000)) << output().toStdString();
    QThread::msleep(1000);
    terminateAndExpectCleanExit();
    const QStringList movies = files("videos");
    ASSERT_EQ(movies.size(), 1);
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                            QDir(home.path()).filePath("videos/" + movies.front())});
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), "h264");
}

}  // namespace
