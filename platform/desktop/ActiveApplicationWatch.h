#pragma once

#include "platform/capture/RunningApplication.h"

#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace platform {

class X11Connection;

// Follows the root window's _NET_ACTIVE_WINDOW on a connection of its own and reports each change
// of the application that owns the active window. Main thread only. The handler may destroy the
// watch: nothing of it is touched after that.
class ActiveApplicationWatch {
public:
    using Handler = std::function<void(const std::optional<RunningApplication>& previous,
                                       const std::optional<RunningApplication>& current)>;

    // Watching starts before the constructor returns; without an X server it never reports.
    explicit ActiveApplicationWatch(Handler handler);
    ~ActiveApplicationWatch();
    ActiveApplicationWatch(const ActiveApplicationWatch&) = delete;
    ActiveApplicationWatch& operator=(const ActiveApplicationWatch&) = delete;

private:
    void drain();
    std::optional<RunningApplication> activeApplication();

    Handler handler_;
    std::unique_ptr<X11Connection> x_;
    std::unique_ptr<QSocketNotifier> notifier_;
    quint32 activeWindowAtom_ = 0;
    std::optional<RunningApplication> current_;
    // Cleared by the destructor, so a drain whose handler destroyed the watch stops there.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace platform
