#include "Features/MenuBar/MenuBarController.h"
#include "Openbox.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace zentola;

namespace {

struct PanelCase {
    const char* edge;
    bool strut;  // a dock with a strut, under a window manager that honours it
    const char* align = "right";
};
void PrintTo(const PanelCase& c, std::ostream* os) { *os << c.edge << " " << c.align << (c.strut ? " with a strut" : ""); }

// The tray icon of the running app on trayer's panel, on each edge of the screen, clicked as a user does.
class TrayMenu : public testing::TestWithParam<PanelCase> {
protected:
    void SetUp() override {
        if (GetParam().strut) {
            windowManager = std::make_unique<Openbox>();
            ASSERT_TRUE(windowManager->up());
        }
        const QString strut = GetParam().strut ? "true" : "false";
        tray.start("trayer", {"--edge", GetParam().edge, "--align", GetParam().align, "--widthtype", "pixel", "--width", "100",
                              "--heighttype", "pixel", "--height", "24", "--SetDockType", strut, "--SetPartialStrut",
                              strut, "--tint", "0x202020", "--transparent", "true", "--alpha", "0"});
        ASSERT_TRUE(waitUntil([&] { return panel().isValid() && QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    }
    void TearDown() override {
        controller.reset();
        if (tray.state() != QProcess::NotRunning) {
            tray.terminate();
            tray.waitForFinished(3000);
        }
        windowManager.reset();
    }

    // trayer's panel window, where the server shows it.
    QRect panel() const { return find(x.root, 3); }
    QRect find(xcb_window_t w, int depth) const {
        auto name = freed(xcb_get_property_reply(x.c, xcb_get_property(x.c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 16), nullptr));
        if (name && QByteArray(static_cast<const char*>(xcb_get_property_value(name.get())),
                               xcb_get_property_value_length(name.get())) == "panel" && x.viewable(w))
            return x.geometry(w);
        auto tree = freed(xcb_query_tree_reply(x.c, xcb_query_tree(x.c, w), nullptr));
        for (int i = 0; depth > 0 && tree && i < xcb_query_tree_children_length(tree.get()); ++i)
            if (const QRect found = find(xcb_query_tree_children(tree.get())[i], depth - 1); found.isValid())
                return found;
        return {};
    }
    bool oursAt(QPoint at) const {
        xcb_window_t w = x.root;
        while (true) {
            auto below = freed(xcb_translate_coordinates_reply(
                x.c, xcb_translate_coordinates(x.c, x.root, w, qint16(at.x()), qint16(at.y())), nullptr));
            if (!below || below->child == XCB_NONE)
                return x.cardinal(w, "_NET_WM_PID") == quint32(getpid());
            w = below->child;
        }
    }
    static void click(QPoint at) {
        ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}), 0);
    }

    XClient x;
    std::unique_ptr<Openbox> windowManager;
    QProcess tray;
    std::unique_ptr<MenuBarController> controller;
    int quits = 0;
};

TEST_P(TrayMenu, OpensBesideThePanel_SoASecondClickOnTheIconClosesItAndQuitsNothing) {
    controller = std::make_unique<MenuBarController>([] {}, [] {}, [] {}, [this] { ++quits; });
    const auto icon = [&] { return controller->statusItem()->geometry(); };
    // Clicked once the tray shows it: the window the pointer would hit there is ours.
    ASSERT_TRUE(waitUntil([&] { return panel().contains(icon()) && oursAt(icon().center()); }, 10000)) << GetParam().edge;
    const QRect onPanel = panel();

    click(icon().center());
    ASSERT_TRUE(waitUntil([&] { return controller->menu()->isVisible(); }, 5000));
    // Right beside the panel (so clear of it and of the icon on it), on the screen's side.
    const QRect menu = controller->menu()->geometry();
    const QString edge = GetParam().edge;
    if (edge == "top")
        EXPECT_EQ(menu.top(), onPanel.bottom() + 1);
    else if (edge == "bottom")
        EXPECT_EQ(menu.bottom(), onPanel.top() - 1);
    else if (edge == "left")
        EXPECT_EQ(menu.left(), onPanel.right() + 1);
    else
        EXPECT_EQ(menu.right(), onPanel.left() - 1);
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(menu)) << menu.x() << "," << menu.y();

    // The usual way to close a menu.
    click(icon().center());
    ASSERT_TRUE(waitUntil([&] { return !controller->menu()->isVisible(); }, 5000));
    spinFor(300);
    EXPECT_EQ(quits, 0);
    controller->menu()->close();
}

INSTANTIATE_TEST_SUITE_P(Edges, TrayMenu,
                         testing::Values(PanelCase{"top", false}, PanelCase{"bottom", false}, PanelCase{"left", false},
                                         PanelCase{"right", false}, PanelCase{"top", true}, PanelCase{"bottom", true},
                                         PanelCase{"left", true}, PanelCase{"right", true},
                                         PanelCase{"bottom", false, "left"}),
                         [](const auto& info) {
                             return std::string(info.param.edge) + (info.param.align == std::string("left") ? "LeftAligned" : "") +
                                    (info.param.strut ? "WithStrut" : "");
                         });

}  // namespace
