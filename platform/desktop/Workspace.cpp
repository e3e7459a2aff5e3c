#include "platform/desktop/Workspace.h"

#include "platform/desktop/ActiveApplicationWatch.h"
#include "platform/desktop/ApplicationX11.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

#include <memory>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct ApplicationObserver {
    Workspace::ObserverToken token;
    Workspace::ApplicationEvent event;
    std::function<void(const RunningApplication&)> call;
};

// The watch runs while anyone observes.
struct ApplicationObservers {
    std::vector<ApplicationObserver> list;
    Workspace::ObserverToken next = 1;
    std::unique_ptr<ActiveApplicationWatch> watch;

    void notify(Workspace::ApplicationEvent event, const RunningApplication& app) {
        // A copy: an observer may add or remove observers, itself included.
        const std::vector<ApplicationObserver> now = list;
        for (const ApplicationObserver& o : now) {
            const bool registered = std::any_of(list.begin(), list.end(), [&](const auto& l) { return l.token == o.token; });
            if (o.event == event && registered)
                o.call(app);
        }
    }
};

ApplicationObservers& observers() {
    static ApplicationObservers instance;
    return instance;
}

}  // namespace

bool Workspace::open(const QUrl& url) {
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool Workspace::openFile(const QString& path) {
    return open(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool Workspace::revealInFileManager(const QString& path) {
    return revealInFileManager(path, QDBusConnection::sessionBus());
}

bool Workspace::revealInFileManager(const QString& path, QDBusConnection bus) {
    const QFileInfo info(path);
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
    if (!bus.isConnected())
        return open(folder);
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)} << QString();
    // Not waited for: a busy file manager must not stall the caller, and one that is not running
    // yet is started by the bus. When none answers, the folder opens instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError())
            open(folder);
        watcher->deleteLater();
    });
    return true;
}

bool Workspace::openSettings(SettingsPage page) {
    // Settings programs of the common desktops, most specific first.
    std::vector<std::pair<QString, QStringList>> candidates;
    switch (page) {
    case SettingsPage::microphone:
        candidates = {{"pavucontrol", {"--tab=4"}},
                      {"gnome-control-center", {"sound"}},
                      {"systemsettings", {"kcm_pulseaudio"}},
                      {"xfce4-mixer", {}}};
        break;
    case SettingsPage::screenCapture:
    case SettingsPage::accessibility:
        candidates = {{"gnome-control-center", {"privacy"}}, {"systemsettings", {}}};
        break;
    }
    for (const auto& [program, arguments] : candidates) {
        const QString found = QStandardPaths::findExecutable(program);
        if (!found.isEmpty() && QProcess::startDetached(found, arguments))
            return true;
    }
    return false;
}

void Workspace::activate(QWidget* window) {
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

void Workspace::resignInput(QWidget* window) {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c || !window || !window->internalWinId())
        return;
    xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    // Asked of the server: the toolkit learns of a focus it asked for only later.
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr), &std::free);
    if (!focus || focus->focus != xcb_window_t(window->internalWinId()))
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, root, XCB_CURRENT_TIME);
    xcb_flush(c);
}

bool Workspace::showsTaskbarEntries() {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t skipTaskbar = x11::atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> supported(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, x11::atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096), nullptr),
        &std::free);
    if (!supported || supported->format != 32 || skipTaskbar == XCB_ATOM_NONE)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported.get()));
    const int count = xcb_get_property_value_length(supported.get()) / 4;
    return std::find(atoms, atoms + count, skipTaskbar) != atoms + count;
}

Workspace::ObserverToken Workspace::addApplicationObserver(ApplicationEvent event,
                                                          std::function<void(const RunningApplication&)> observer) {
    ApplicationObservers& all = observers();
    const ObserverToken token = all.next++;
    all.list.push_back({token, event, std::move(observer)});
    if (!all.watch) {
        all.watch = std::make_unique<ActiveApplicationWatch>(
            [](const std::optional<RunningApplication>& previous, const std::optional<RunningApplication>& current) {
                if (previous)
                    observers().notify(ApplicationEvent::didDeactivate, *previous);
                if (current)
                    observers().notify(ApplicationEvent::didActivate, *current);
            });
        // An observer may stay until the end: the watch goes with the event loop, not after it.
        static const bool once = QCoreApplication::instance() &&
                                 QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                                                  [] { observers().watch.reset(); });
        Q_UNUSED(once);
    }
    return token;
}

void Workspace::removeApplicationObserver(ObserverToken token) {
    ApplicationObservers& all = observers();
    std::erase_if(all.list, [token](const ApplicationObserver& o) { return o.token == token; });
    if (all.list.empty())
        all.watch.reset();
}

bool Workspace::isSystemSettings(const RunningApplication& application) {
    // The window classes of the common desktops' settings and sound-settings programs.
    static const QStringList settings = {
        "gnome-control-center", "org.gnome.settings", "systemsettings", "systemsettings5", "xfce4-settings-manager",
        "xfce4-mixer", "pavucontrol", "pavucontrol-qt", "mate-control-center", "cinnamon-settings", "lxqt-config",
        "budgie-control-center", "unity-control-center"};
    return settings.contains(application.bundleIdentifier.toLower());
}

}  // namespace platform
