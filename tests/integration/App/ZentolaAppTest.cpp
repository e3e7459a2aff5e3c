#include "Features/Onboarding/OnboardingView.h"
#include "integration/Notice/NotificationService.h"
#include "platform/desktop/InstanceLock.h"

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

#include <xcb/xcb_keysyms.h>

#include <csignal>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString app = QStringLiteral(ZENTOLA_APP_PATH);

// An X server of the test's own: a second display beside the shared one, or one to take away.
class OwnXvfb {
public:
    OwnXvfb() {
        for (int n = 200 + ::getpid() % 400; !up() && n < 1000; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            display = QStringLiteral(":%1").arg(n);
            server.start("Xvfb", {display, "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
            waitUntil([&] { return up() || server.state() == QProcess::NotRunning; }, 10000);
        }
    }
    ~OwnXvfb() { stop(SIGTERM); }
    bool up() const {
        if (display.isEmpty() || server.state() != QProcess::Running)
            return false;
        xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), nullptr);
        const bool connected = !xcb_connection_has_error(c);
        xcb_disconnect(c);
        return connected;
    }
    void stop(int signal) {
        if (server.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(server.processId()), signal);
        server.waitForFinished(5000);
    }

    QString display;

private:
    QProcess server;
};

// Points this test's own X clients (and the tools it runs) at another display for a while.
class UsingDisplay {
public:
    explicit UsingDisplay(const QString& display) : saved_(qgetenv("DISPLAY")) { qputenv("DISPLAY", display.toLatin1()); }
    ~UsingDisplay() { qputenv("DISPLAY", saved_); }

private:
    QByteArray saved_;
};

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
        // A number no double holds exactly, as another program may have written it.
        file.write(QJsonDocument(seed).toJson().insert(2, "    " + bigInteger + ",\n"));
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
        if (signal == SIGKILL)
            return;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << log(p).toStdString();
        EXPECT_EQ(p.exitCode(), 0) << log(p).toStdString();
    }
    // The movies recorded so far.
    QStringList movies() const { return QDir(home.filePath("videos")).entryList(QDir::Files); }
    // The codec of the movie's first stream and its duration, as ffprobe reads them ("h264,2.0").
    QString probe(const QString& movie) const {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=codec_name:format=duration",
                                "-of", "csv=p=0", home.filePath("videos/" + movie)});
        return probe.waitForFinished(20000) ? QString::fromUtf8(probe.readAllStandardOutput()).simplified() : QString();
    }
    QByteArray read(const QString& name) const {
        QFile f(home.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(home.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QString log(const QProcess& p) const { return QString::fromUtf8(read(p.objectName())); }
    QByteArray settingsBytes() const { return read("config/zentola/defaults.json"); }
    bool writeSettings(const QJsonObject& settings, const QByteArray& before = {}) const {
        return write("config/zentola/defaults.json", before + QJsonDocument(settings).toJson());
    }
    QJsonObject settings() const { return QJsonDocument::fromJson(settingsBytes()).object(); }
    // Start-up ends by storing the default shortcuts; from then on the keys are grabbed.
    bool started() const { return settings().contains("GlobalShortcuts_quickRecord"); }
    // With no shortcut stored, started() tells of the next launch too. Asking the server instead,
    // with a grab of the keys, would take them from an app that grabs them at that moment.
    void forgetShortcuts() {
        QJsonObject kept = settings();
        for (const QString& key : kept.keys())
            if (key.startsWith("GlobalShortcuts_"))
                kept.remove(key);
        ASSERT_TRUE(writeSettings(kept));
    }
    // Holds its display's lock and, without a tray host, has said so: it is up and answers signals.
    bool upWithoutTray(const QProcess& p) const {
        const QString display = platform::InstanceLock::displayKey(p.processEnvironment().value("DISPLAY").toLocal8Bit());
        return read("run/com.zentola.Zentola-" + display + ".lock").toLongLong() == p.processId() &&
               log(p).contains("[Zentola] No system tray is available");
    }
    // Ctrl+Shift+6 and Ctrl+Shift+8 are held on the current display: another client's grab of either is
    // refused. Only once the app has taken them: tried earlier, the trial grab may refuse the app.
    static bool shortcutsGrabbed() {
        XClient x;
        bool held = true;
        for (xcb_keysym_t sym : {0x36u /* 6 */, 0x38u /* 8 */}) {
            const auto error = grabCtrlShift(x, sym);
            if (!error)
                ungrabCtrlShift(x, sym);
            held = held && error == XCB_ACCESS;
        }
        x.sync();
        return held;
    }
    // Ctrl+Shift and the key that types the symbol, grabbed by the client: none, or the error.
    static std::optional<quint8> grabCtrlShift(XClient& x, xcb_keysym_t sym) {
        const xcb_keycode_t code = keycode(x, sym);
        auto error = freed(xcb_request_check(x.c, xcb_grab_key_checked(x.c, 1, x.root, ctrlShift, code,
                                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        return error ? std::optional(error->error_code) : std::nullopt;
    }
    static void ungrabCtrlShift(XClient& x, xcb_keysym_t sym) {
        xcb_ungrab_key(x.c, keycode(x, sym), x.root, ctrlShift);
        x.sync();
    }
    static xcb_keycode_t keycode(XClient& x, xcb_keysym_t sym) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x.c);
        std::unique_ptr<xcb_keycode_t, decltype(&free)> codes(xcb_key_symbols_get_keycode(symbols, sym), &free);
        xcb_key_symbols_free(symbols);
        return codes ? codes.get()[0] : 0;
    }
    static constexpr quint16 ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
    // A selection drawn in the overlay of `p`, ended by the overlay's shortcut: the rectangle
    // changes at every step of the drag, and its last value may still wait to be written.
    void drawSelection(const QProcess& p) {
        openOverlay(p);
        QString drag = "mousedown 1";
        for (int step = 1; step <= 40; ++step)
            drag += QStringLiteral(" sleep 0.02 mousemove %1 %2").arg(300 + step * 10).arg(300 + step * 7);
        xdotool(drag + " mouseup 1 key --clearmodifiers ctrl+shift+6");
        // The shortcut comes after the drag: once it is handled, so is the drag.
        ASSERT_TRUE(waitUntil([&] { return log(p).contains("[Zentola] Overlay already visible, hiding"); }, 10000));
    }
    // The overlay of `p`, opened on the current display by its shortcut and up under the pointer. The
    // shortcut is pressed again if nothing came of it: a copy that has just started may not hold it yet.
    void openOverlay(const QProcess& p) {
        XClient x;
        const auto overlayUnderPointer = [&] {
            auto pointer = freed(xcb_query_pointer_reply(x.c, xcb_query_pointer(x.c, x.root), nullptr));
            return pointer && x.cardinal(pointer->child, "_NET_WM_PID") == quint32(p.processId());
        };
        const auto opened = [&] {
            xdotool("mousemove 300 300 key --clearmodifiers ctrl+shift+6");  // the overlay's active display is the pointer's
            return waitUntil(overlayUnderPointer, 5000) || log(p).contains("[Zentola] Creating overlay");
        };
        ASSERT_TRUE(waitUntil(opened, 15000)) << log(p).toStdString();
        ASSERT_TRUE(waitUntil(overlayUnderPointer, 10000)) << log(p).toStdString();
    }
    QJsonObject savedRect() const {
        return QJsonDocument::fromJson(QByteArray::fromBase64(
                                           settings().value("zentola.savedRect").toObject().value("data").toString().toLatin1()))
            .object();
    }
    void expectDrawnSelectionSaved() const {
        EXPECT_EQ(savedRect()["origin"].toArray(), (QJsonArray{300, 300})) << settingsBytes().toStdString();
        EXPECT_EQ(savedRect()["size"].toArray(), (QJsonArray{400, 280}));
    }
    // A tray host along the top right of the first monitor, its panel of one colour.
    QProcess& trayer(QColor panel) {
        return launch("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                                 "--heighttype", "pixel", "--height", "24", "--transparent", "true", "--alpha", "0",
                                 "--tint", "0x" + panel.name().mid(1)});
    }
    static inline const QColor dark{0x20, 0x20, 0x20}, light{0xe0, 0xe0, 0xe0};
    // The tray's pixels against its panel: how many stand out (lighter on a dark panel, darker on a
    // light one), how many go the other way, and how many are white.
    struct GlyphPixels {
        int standing = 0, otherWay = 0, darker = 0, white = 0;
    };
    static GlyphPixels glyphPixels(QColor panel) {
        XClient x;
        auto image = freed(xcb_get_image_reply(
            x.c, xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, 1820, 0, 100, 24, ~0u), nullptr));
        GlyphPixels out;
        if (!image || xcb_get_image_data_length(image.get()) < 100 * 24 * 4)
            return out;
        const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image.get()));
        for (int i = 0; i < 100 * 24; ++i) {
            const int difference = qGray(QRgb(pixels[i])) - qGray(panel.rgb());
            const int outward = panel.lightness() < 128 ? difference : -difference;
            out.standing += outward > 100;
            out.otherWay += outward < -12;
            out.darker += difference < -12;
            out.white += qGray(QRgb(pixels[i])) >= 250;
        }
        return out;
    }
    // A glyph that stands out on the panel, and no ring of the panel's own kind around it.
    static void expectGlyphStandsOut(QColor panel) {
        const auto shown = [&] { return glyphPixels(panel).standing >= 40 && glyphPixels(panel).otherWay == 0; };
        EXPECT_TRUE(waitUntil(shown, 10000)) << panel.name().toStdString() << ": " << glyphPixels(panel).standing << " "
                                             << glyphPixels(panel).otherWay;
    }
    static void xdotool(const QString& commands) {
        ASSERT_EQ(QProcess::execute("xdotool", commands.split(' ')), 0) << commands.toStdString();
    }

    QTemporaryDir home;
    const QByteArray bigInteger = R"("zentola.future.count": 12345678901234567890)";
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
    ASSERT_TRUE(waitUntil(shortcutsGrabbed, 15000)) << log(first).toStdString();
    EXPECT_EQ(settingsBytes(), before);

    // A drag in the overlay changes the rectangle at every step; the file is replaced a few times.
    const int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(home.filePath("config/zentola")).constData(), IN_MOVED_TO);
    drawSelection(first);
    // At once, while the last rectangle is still waiting to be written.
    terminate(first);
    int replaced = 0;
    char buffer[4096];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
            replaced += QByteArray(reinterpret_cast<inotify_event*>(p)->name) == "defaults.json";
    ::close(watch);
    EXPECT_GE(replaced, 1);
    EXPECT_LE(replaced, 4);
    expectDrawnSelectionSaved();
    EXPECT_TRUE(settingsBytes().contains(bigInteger)) << settingsBytes().toStdString();

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

TEST_F(ZentolaAppTest, OneCopyPerDisplay_EachEndsOnSighupWithItsSettingsWritten) {
    QProcess& first = launch();
    ASSERT_TRUE(waitUntil([&] { return upWithoutTray(first) && started(); }, 15000)) << log(first).toStdString();
    // The same user on a second display (another login, a nested server) gets a copy of its own there.
    OwnXvfb other;
    ASSERT_TRUE(other.up());
    env.insert("DISPLAY", other.display);
    QProcess& second = launch();
    ASSERT_TRUE(waitUntil([&] { return upWithoutTray(second); }, 15000)) << log(second).toStdString();
    // That display named another way is still that display.
    env.insert("DISPLAY", "unix" + other.display + ".0");
    QProcess& third = launch();
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(log(third), QStringLiteral("[Zentola] Zentola is already running (process %1); this launch ends\n")
                              .arg(second.processId()));
    EXPECT_EQ(first.state(), QProcess::Running);
    ASSERT_TRUE(waitUntil(shortcutsGrabbed, 15000)) << log(first).toStdString();

    // Logout: a change still waiting to be written reaches the file.
    drawSelection(first);
    terminate(first, SIGHUP);
    expectDrawnSelectionSaved();
    terminate(second, SIGHUP);
}

TEST_F(ZentolaAppTest, TheDisplayGoingAway_SettingsWrittenAndTheMovieFinished) {
    // Each time on a display of its own that then goes, as at the end of a session.
    for (const bool recording : {false, true}) {
        OwnXvfb server;
        ASSERT_TRUE(server.up());
        UsingDisplay using_(server.display);
        env.insert("DISPLAY", server.display);
        forgetShortcuts();
        QProcess& zentola = launch();
        ASSERT_TRUE(waitUntil([&] { return upWithoutTray(zentola) && started(); }, 15000)) << log(zentola).toStdString();
        if (recording) {
            xdotool("key --clearmodifiers ctrl+shift+8");
            ASSERT_TRUE(waitUntil([&] { return log(zentola).contains("Started writing session"); }, 15000))
                << log(zentola).toStdString();
            spinFor(1000);
        } else {
            drawSelection(zentola);
        }
        server.stop(SIGKILL);
        ASSERT_TRUE(zentola.waitForFinished(30000));
        EXPECT_EQ(zentola.exitStatus(), QProcess::NormalExit) << log(zentola).toStdString();
        if (!recording)
            expectDrawnSelectionSaved();
    }
    ASSERT_EQ(movies().size(), 1);
    const QStringList found = probe(movies().front()).split(' ');
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0], "h264");
    EXPECT_GT(found[1].toDouble(), 0.5);
}

TEST_F(ZentolaAppTest, AShortcutAnotherProgramHolds_ToldOnceWhereTheUserLooks_WorksOnceTheKeysAreFree) {
    QProcess bus;  // a session bus of the test's own, with a notification service on it
    bus.start("dbus-daemon", {"--session", "--print-address=1", "--nofork"});
    ASSERT_TRUE(bus.waitForStarted(5000) && bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    std::shared_ptr<void> stopBus(nullptr, [&](void*) {
        bus.terminate();
        bus.waitForFinished(3000);
    });
    notice_test::NotificationService notifications(address);
    ASSERT_TRUE(notifications.owned());
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);

    XClient other;  // another program, holding Ctrl+Shift+7 before the app starts
    ASSERT_FALSE(grabCtrlShift(other, '7'));
    QProcess& zentola = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    ASSERT_TRUE(waitUntil([&] { return notifications.received.size() == 1; }, 10000)) << log(zentola).toStdString();
    EXPECT_EQ(notifications.received[0].summary, "Ctrl+Shift+7 is taken by another program");
    EXPECT_TRUE(notifications.received[0].body.contains("“Instant capture”")) << notifications.received[0].body.toStdString();
    spinFor(2500);  // tried again meanwhile: nothing more to tell
    ungrabCtrlShift(other, '7');
    ASSERT_TRUE(waitUntil([&] { return log(zentola).contains("Registered hotkey Ctrl+Shift+7 after it was refused"); }, 10000))
        << log(zentola).toStdString();
    xdotool("key --clearmodifiers ctrl+shift+7");
    EXPECT_TRUE(waitUntil([&] { return !QDir(home.filePath("shots")).entryList(QDir::Files).isEmpty(); }, 15000))
        << log(zentola).toStdString();
    EXPECT_EQ(notifications.received.size(), 1u);
    EXPECT_EQ(log(zentola).count("Error registering hotkey"), 1) << log(zentola).toStdString();
    EXPECT_EQ(log(zentola).count("Registered hotkey"), 1);
    terminate(zentola);
}

TEST_F(ZentolaAppTest, TheTrayGlyphTakesTheColourOfTheTrayItIsIn) {
    // A light panel: a dark glyph.
    QProcess& tray = trayer(light);
    QProcess& zentola = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    expectGlyphStandsOut(light);
    // A tray that says its foreground is white is believed over what its panel shows.
    XClient x;
    auto owner = freed(xcb_get_selection_owner_reply(x.c, xcb_get_selection_owner(x.c, x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
    ASSERT_TRUE(owner && owner->owner != XCB_NONE);
    const quint32 colours[12] = {0xffff, 0xffff, 0xffff, 0xffff, 0, 0, 0xffff, 0xffff, 0, 0, 0xffff, 0};
    xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, owner->owner, x.atom("_NET_SYSTEM_TRAY_COLORS"), XCB_ATOM_CARDINAL,
                        32, 12, colours);
    x.sync();
    EXPECT_TRUE(waitUntil([&] { return glyphPixels(light).darker == 0 && glyphPixels(light).white >= 40; }, 10000))
        << glyphPixels(light).white << " " << glyphPixels(light).darker;
    terminate(zentola);
    tray.terminate();
}

TEST_F(ZentolaAppTest, OnAScaledDesktopTheTrayGlyphStillTakesThePanelsColour) {
    // Twice the pixels per point, as Xft.dpi 192 gives: the icon's place is in scaled coordinates,
    // the panel's pixels are not.
    env.insert("QT_SCALE_FACTOR", "2");
    QProcess& tray = trayer(dark);
    QProcess& zentola = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    expectGlyphStandsOut(dark);
    terminate(zentola);
    tray.terminate();
}

TEST_F(ZentolaAppTest, InTheTray_ShortcutsCaptureAndRecord_SigtermFinishesTheMovie) {
    QProcess& tray = trayer(dark);
    QProcess& zentola = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    EXPECT_FALSE(log(zentola).contains("No system tray"));
    // A dark panel: a light glyph, with no dark ring.
    expectGlyphStandsOut(dark);

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
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(probe(movies().front()).startsWith("h264 ")) << probe(movies().front()).toStdString();
    tray.terminate();
}

// As an editor saves the settings: the mark first. user-dirs.dirs(5) allows only "$HOME/..." or
// absolute paths: a relative one is in the home, wherever the app was started.
TEST_F(ZentolaAppTest, AnEditedSettingsFileAndARelativePicturesFolder_AreFollowed_TheFileKeptWholeWithItsMark) {
    QJsonObject edited = settings();
    edited.insert("zentola.saveFormat", "JPEG");
    edited.remove("zentola.screenshotFolderBookmark");
    const QByteArray mark = "\xEF\xBB\xBF";
    ASSERT_TRUE(writeSettings(edited, mark));
    ASSERT_TRUE(write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"Pictures\"\nXDG_VIDEOS_DIR=\"Videos\"\n"));
    QDir(home.path()).mkpath("elsewhere");

    QProcess& zentola = launch("/bin/sh", {"-c", "cd \"$0\" && exec \"$1\"", home.filePath("elsewhere"), app});
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(zentola).toStdString();
    ASSERT_TRUE(waitUntil(shortcutsGrabbed, 15000)) << log(zentola).toStdString();
    xdotool("key --clearmodifiers ctrl+shift+7");
    const QDir pictures(home.filePath("Pictures/Zentola"));
    ASSERT_TRUE(waitUntil([&] { return !pictures.entryList(QDir::Files).isEmpty(); }, 15000)) << log(zentola).toStdString();
    EXPECT_TRUE(pictures.entryList(QDir::Files).front().endsWith(".jpg")) << pictures.entryList(QDir::Files).front().toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.filePath("elsewhere/Pictures")));
    terminate(zentola);

    EXPECT_TRUE(settingsBytes().startsWith(mark + "{")) << settingsBytes().toStdString();
    for (auto it = edited.begin(); it != edited.end(); ++it)
        EXPECT_EQ(settings().value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_TRUE(settings().contains("GlobalShortcuts_quickRecord")) << settingsBytes().toStdString();
    EXPECT_EQ(QDir(home.filePath("config/zentola")).entryList(QDir::Files).size(), 1);  // nothing kept aside
}

TEST_F(ZentolaAppTest, ASettingsPathThatIsAFifo_TheAppStillStartsInTheTrayAndEndsOnSigterm) {
    const QString path = home.filePath("config/zentola/defaults.json");
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QProcess& tray = trayer(dark);
    QProcess& zentola = launch();
    expectGlyphStandsOut(dark);
    // The shortcuts work: pressed until one lands (probing them with grabs of our own could take
    // a key from under the app as it registers). No folder is stored: the default one is used.
    const QDir pictures(home.filePath("Pictures/Zentola"));
    const auto shot = [&] {
        xdotool("key --clearmodifiers ctrl+shift+7");
        return waitUntil([&] { return !pictures.entryList(QDir::Files).isEmpty(); }, 1000);
    };
    ASSERT_TRUE(waitUntil(shot, 20000)) << log(zentola).toStdString();
    EXPECT_TRUE(log(zentola).contains("[Zentola] Settings file " + path + " is not a regular file")) << log(zentola).toStdString();
    terminate(zentola);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    tray.terminate();
}

// Copy A stores "window"; copy B, which loaded "rect", opens and closes its overlay in rect mode:
// B's choice is what the file ends with, though it is what B read at its start.
TEST_F(ZentolaAppTest, TwoCopiesOnTwoDisplays_TheLastChoiceOfModeReachesTheFile) {
    QJsonObject rect = settings();
    rect.insert("zentola.lastCaptureMode", "rect");
    ASSERT_TRUE(writeSettings(rect));
    const auto storedMode = [&] { return settings().value("zentola.lastCaptureMode").toString(); };

    QProcess& a = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << log(a).toStdString();
    OwnXvfb other;
    ASSERT_TRUE(other.up());
    env.insert("DISPLAY", other.display);
    QProcess& b = launch();
    ASSERT_TRUE(waitUntil([&] { return upWithoutTray(b); }, 15000)) << log(b).toStdString();
    ASSERT_TRUE(waitUntil(shortcutsGrabbed, 15000)) << log(a).toStdString();

    openOverlay(a);
    const auto windowMode = [&] {
        xdotool("key 2");
        return waitUntil([&] { return storedMode() == "window"; }, 2000);
    };
    ASSERT_TRUE(waitUntil(windowMode, 15000)) << settingsBytes().toStdString();
    xdotool("key --clearmodifiers ctrl+shift+6");
    ASSERT_TRUE(waitUntil([&] { return log(a).contains("[Zentola] Overlay already visible, hiding"); }, 10000));

    {
        UsingDisplay using_(other.display);
        openOverlay(b);
        xdotool("key --clearmodifiers ctrl+shift+6");
        ASSERT_TRUE(waitUntil([&] { return log(b).contains("[Zentola] Overlay already visible, hiding"); }, 10000));
    }
    EXPECT_TRUE(waitUntil([&] { return storedMode() == "rect"; }, 10000)) << settingsBytes().toStdString();
    terminate(a);
    terminate(b);
    EXPECT_EQ(storedMode(), QString("rect")) << settingsBytes().toStdString();
}

}  // namespace
