#include "resources/Bundle.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/ProgramHome.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <memory>
#include <vector>

namespace {

// Started again on a display where it runs without a tray host (no icon, so no menu), the app's
// running copy brings up its settings.
class SecondLaunch : public testing::Test {
protected:
    void TearDown() override {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(20000))
                    p->kill();
            }
    }
    QProcess& launch() {
        QProcess& p = *processes.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment env = home.environment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ZENTOLA_APP_PATH, {});
        EXPECT_TRUE(p.waitForStarted());
        return p;
    }
    bool started() const { return home.settings().contains("GlobalShortcuts_quickRecord"); }
    QByteArray property(xcb_window_t w, xcb_atom_t name) const {
        auto p = freed(xcb_get_property_reply(x.c, xcb_get_property(x.c, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
        return p ? QByteArray(static_cast<const char*>(xcb_get_property_value(p.get())), xcb_get_property_value_length(p.get()))
                 : QByteArray();
    }
    // The process's windows titled "Settings" that show.
    std::vector<xcb_window_t> settingsWindows(const QProcess& p) const {
        std::vector<xcb_window_t> found;
        auto tree = freed(xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root), nullptr));
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t w = xcb_query_tree_children(tree.get())[i];
            if (x.viewable(w) && x.cardinal(w, "_NET_WM_PID") == quint32(p.processId()) &&
                property(w, XCB_ATOM_WM_NAME) == "Settings")
                found.push_back(w);
        }
        return found;
    }

    QTemporaryDir dir;
    const testing_support::ProgramHome home{dir.path()};
    std::vector<std::unique_ptr<QProcess>> processes;
    XClient x;
};

TEST_F(SecondLaunch, BringsUpTheRunningCopysSettings_OneWindowOfTheDesktopEntrysClass) {
    QProcess& first = launch();
    ASSERT_TRUE(waitUntil([&] { return started(); }, 15000)) << first.readAll().toStdString();
    EXPECT_TRUE(settingsWindows(first).empty());

    QProcess& second = launch();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(second.readAll()),
              QStringLiteral("[Zentola] Zentola is already running (process %1); this launch ends\n").arg(first.processId()));
    ASSERT_TRUE(waitUntil([&] { return settingsWindows(first).size() == 1; }, 10000));
    const xcb_window_t settings = settingsWindows(first).front();

    // A taskbar groups the window under the entry that names its class.
    const auto entry = zentola::Bundle::resourcePath("com.zentola.Zentola", "desktop");
    ASSERT_TRUE(entry);
    const QSettings desktop(*entry, QSettings::IniFormat);
    const QByteArray wmClass = property(settings, XCB_ATOM_WM_CLASS);
    EXPECT_EQ(wmClass, QByteArray("zentola\0Zentola\0", 16));
    EXPECT_EQ(wmClass.split('\0').value(1), desktop.value("Desktop Entry/StartupWMClass").toByteArray());

    // Gone behind another window, it comes forward again, still one window. The app is let finish
    // bringing it up first, or it would take the focus back from the other window by itself.
    ASSERT_TRUE(waitUntil([&] { return x.focus() == settings; }, 10000));
    const xcb_window_t other = x.window("other");
    x.activate(other);
    ASSERT_TRUE(waitUntil([&] { return x.focus() == other; }, 5000));
    QProcess& third = launch();
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_TRUE(waitUntil([&] { return x.focus() == settings; }, 10000));
    EXPECT_EQ(settingsWindows(first).size(), 1u);
    xcb_destroy_window(x.c, other);
    x.sync();
}

}  // namespace
