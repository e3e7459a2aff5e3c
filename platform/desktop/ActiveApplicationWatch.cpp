#include "platform/desktop/ActiveApplicationWatch.h"

#include "platform/capture/X11Connection.h"
#include "platform/core/Error.h"

#include <QFile>
#include <QSocketNotifier>
#include <QStringList>

#include <unistd.h>

namespace platform {
namespace {

bool sameApplication(const std::optional<RunningApplication>& a, const std::optional<RunningApplication>& b) {
    if (!a || !b)
        return !a && !b;
    if (a->processID && b->processID)
        return a->processID == b->processID;
    return a->bundleIdentifier == b->bundleIdentifier;
}

}  // namespace

ActiveApplicationWatch::ActiveApplicationWatch(Handler handler) : handler_(std::move(handler)) {
    try {
        x_ = std::make_unique<X11Connection>();
    } catch (const PlatformError&) {
        return;
    }
    xcb_connection_t* c = x_->get();
    activeWindowAtom_ = x_->atom("_NET_ACTIVE_WINDOW");
    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, x_->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    current_ = activeApplication();
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

ActiveApplicationWatch::~ActiveApplicationWatch() {
    *alive_ = false;
    // Destroyed from its own notifier's signal, the notifier goes once that signal is done.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->disconnect();
        notifier_.release()->deleteLater();
    }
}

void ActiveApplicationWatch::drain() {
    xcb_connection_t* c = x_->get();
    // Reading the new window's properties may queue more events: look again until none is left.
    for (bool changed = true; changed;) {
        changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                changed |= notify->window == x_->root() && notify->atom == activeWindowAtom_;
            }
            free(event);
        }
        if (xcb_connection_has_error(c)) {
            notifier_->setEnabled(false);  // the server went away
            return;
        }
        if (!changed)
            return;
        std::optional<RunningApplication> now = activeApplication();
        if (sameApplication(now, current_))
            continue;
        std::swap(now, current_);
        // The handler gets copies of itself and of both values: it may destroy the watch.
        const std::shared_ptr<bool> alive = alive_;
        const Handler handler = handler_;
        const std::optional<RunningApplication> current = current_;
        handler(now, current);
        if (!*alive)
            return;
    }
}

std::optional<RunningApplication> ActiveApplicationWatch::activeApplication() {
    const auto active = x_->cardinalProperty(x_->root(), activeWindowAtom_, XCB_ATOM_WINDOW);
    if (active.empty() || active.front() == XCB_NONE)
        return std::nullopt;
    const xcb_window_t window = active.front();
    RunningApplication app;
    // "instance\0class\0": the class names the application.
    const QStringList wmClass = QString::fromLatin1(x_->stringProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING))
                                    .split(QChar(0), Qt::SkipEmptyParts);
    app.bundleIdentifier = wmClass.isEmpty() ? QString() : wmClass.back();
    const auto pid = x_->cardinalProperty(window, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    app.processID = pid.empty() ? 0 : qint32(pid.front());
    if (app.bundleIdentifier.isEmpty() && !app.processID)
        return std::nullopt;  // the desktop itself, or a window gone meanwhile
    if (app.processID == ::getpid())
        app.bundleIdentifier = RunningApplication::ownBundleIdentifier();
    QFile comm(QStringLiteral("/proc/%1/comm").arg(app.processID));
    app.applicationName = app.processID && comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed()
                                                                         : app.bundleIdentifier;
    return app;
}

}  // namespace platform
