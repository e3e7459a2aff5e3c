#pragma once

#include "platform/display/Screen.h"

#include <QHash>

#include <cstdint>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace platform {

// Displays from the X server's RandR monitors, over a connection of its own (so it also works
// where the toolkit draws off screen). Each monitor keeps its Screen object while it is connected.
// Every call asks the server again (about 0.1 ms, bench/display), so the list is never stale and
// needs no change notifications.
class XcbScreenProvider : public Screen::Provider {
public:
    XcbScreenProvider();
    ~XcbScreenProvider() override;

    std::vector<ScreenRef> screens() override;
    QPointF mouseLocation() override;

    struct Monitor {
        std::uint32_t nameAtom = 0;
        Screen::Description description;
    };
    // What the server reports now, primary first; empty without a connection.
    std::vector<Monitor> readMonitors();

private:
    bool ensureConnection();
    void disconnect();
    QString atomName(std::uint32_t atom);
    QRect workArea();
    static double scaleFor(const QString& name, const QRect& native);

    xcb_connection_t* conn_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t workAreaAtom_ = 0;
    std::uint32_t currentDesktopAtom_ = 0;
    bool hasMonitors_ = false;
    QHash<std::uint32_t, QString> atomNames_;
    // Keyed by the monitor's name atom, which the server keeps while the monitor exists.
    QHash<std::uint32_t, std::shared_ptr<Screen>> cache_;
};

}  // namespace platform
