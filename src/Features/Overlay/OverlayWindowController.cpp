#include "Features/Overlay/OverlayWindowController.h"

#include "App/AppState.h"
#include "Extensions/ScreenExt.h"
#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/VideoRecordingManager.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Features/Overlay/CountdownWindowController.h"
#include "Features/Overlay/KeyablePanel.h"
#include "Features/Overlay/OverlayKeyMonitor.h"
#include "Features/Overlay/OverlayView.h"
#include "platform/capture/ContentFilter.h"
#include "platform/capture/OwnWindows.h"
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/WindowPlacement.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>
#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <string>

namespace zentola {
namespace {

using namespace std::chrono_literals;

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return platform::plainText(e);
    } catch (...) {
        return "unknown error";
    }
}

// Panels kept between showings, parked off the displays and without content. A panel's window, the
// memory it paints into and, with a compositing manager, the X server's picture of it take longer to
// set up on a large display than everything else the overlay shows, so a display's panel is used
// again while the display exists; it stays mapped so the server keeps its picture.
class PanelPool {
public:
    KeyablePanel* take(const platform::ScreenRef& screen, bool translucent) {
        const auto screens = platform::Screen::screens();
        KeyablePanel* found = nullptr;
        for (auto it = idle_.begin(); it != idle_.end();) {
            KeyablePanel* panel = *it;
            const bool current = panel && std::find(screens.begin(), screens.end(), panel->screen()) != screens.end();
            if (!current || (!found && panel->screen() == screen && panel->isTranslucent() == translucent)) {
                if (current)
                    found = panel;
                else if (panel)
                    panel->deleteLater();
                it = idle_.erase(it);
                continue;
            }
            ++it;
        }
        // Sized for the display as it is now, still out of sight.
        if (found)
            found->park();
        return found;
    }
    void give(KeyablePanel* panel) {
        for (const auto& other : idle_)
            if (other && other->screen() == panel->screen() && other->isTranslucent() == panel->isTranslucent()) {
                panel->deleteLater();
                return;
            }
        idle_.emplace_back(panel);
    }
    static PanelPool& shared() {
        static PanelPool* pool = [] {
            auto* p = new PanelPool;
            // The windows go before the toolkit does.
            if (QCoreApplication* app = QCoreApplication::instance())
                QObject::connect(app, &QCoreApplication::aboutToQuit, [p] {
                    for (const auto& panel : p->idle_)
                        delete panel.data();
                    p->idle_.clear();
                });
            return p;
        }();
        return *pool;
    }

private:
    std::vector<QPointer<KeyablePanel>> idle_;
};

// Off the screen at once; kept for the next showing unless its display is gone.
void retire(KeyablePanel* panel, bool keep = true) {
    if (!panel)
        return;
    panel->resignKey();
    // Before it goes: a grab racing its going leaves it out.
    platform::OwnWindows::forget(panel->windowHandle());
    if (keep)
        panel->park();
    else
        panel->hide();
    // The view later: it may be the one whose key or click brought us here.
    if (OverlayView* view = panel->takeContentView()) {
        view->setSnapshot(nullptr);
        view->hide();
        view->deleteLater();
    }
    if (keep)
        PanelPool::shared().give(panel);
    else
        panel->deleteLater();
}

// Runs once the overlay is gone; touches nothing of the controller, which may be released by now.
QCoro::Task<void> runCapture(OverlayWindowController::Environment env, CaptureType type, CaptureMode mode,
                             std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                             platform::ScreenRef screen) {
    try {
        co_await env.pause();
    } catch (...) {
        // An interrupted pause still captures.
    }
    if (type == CaptureType::video) {
        // Another recording started meanwhile (quick record): this one would not.
        if (!co_await env.countdown(screen)) {
            platform::logLine("[Zentola] Countdown ended: another recording started");
            co_return;
        }
        std::exception_ptr failure;
        try {
            co_await env.startRecording(mode, rect, window, screen);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            platform::logLine("[Zentola] Failed to start recording: " + describe(failure));
        else
            platform::logLine("[Zentola] Video recording started");
    } else {
        try {
            co_await env.performCaptureWorkflow(mode, rect, window, screen);
        } catch (...) {
            platform::logLine("Capture failed: " + describe(std::current_exception()));
        }
    }
}

// The displays' native pixels as the X server shows them, cursor left out (the real one stays
// above), in one grab of all of them; each display's part is a view into it. Our own windows (a
// countdown, the card, a flash) are left out, as in any capture: the panels would show them
// frozen beneath the veil for as long as they stay.
QCoro::Task<std::vector<platform::BitmapRef>> displaySnapshots(std::vector<platform::ScreenRef> screens) {
    platform::ShareableDisplay all;
    for (const auto& screen : screens)
        all.nativeGeometry |= screen->nativeGeometry();
    platform::StreamConfiguration configuration;
    configuration.showsCursor = false;
    std::vector<platform::RunningApplication> us(1);
    us.front().bundleIdentifier = platform::RunningApplication::ownBundleIdentifier();
    us.front().processID = qint32(QCoreApplication::applicationPid());
    const platform::BitmapRef whole = co_await platform::ScreenshotService::captureImage(
        platform::ContentFilter::forDisplay(all, std::move(us), {}), configuration);
    std::vector<platform::BitmapRef> parts;
    for (const auto& screen : screens) {
        const QRect r = screen->nativeGeometry().translated(-all.nativeGeometry.topLeft());
        parts.push_back(platform::Bitmap::wrap(r.width(), r.height(), whole->bytesPerRow(), whole->format(),
                                               whole->alpha(), whole->row(r.y()) + std::size_t(r.x()) * 4,
                                               [whole] {}));
    }
    co_return parts;
}

QCoro::Task<void> runDetached(QCoro::Task<void> task) {
    try {
        co_await std::move(task);
    } catch (...) {
        platform::logLine("Capture failed: " + describe(std::current_exception()));
    }
}

}  // namespace

OverlayWindowController::Environment OverlayWindowController::Environment::system() {
    Environment e;
    e.performCaptureWorkflow = [](CaptureMode mode, std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                                  platform::ScreenRef screen) {
        return CaptureManager::shared().performCaptureWorkflow(mode, std::move(rect), std::move(window),
                                                               std::move(screen));
    };
    e.startRecording = [](CaptureMode mode, std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                          platform::ScreenRef screen) {
        return VideoRecordingManager::shared().startRecording(mode, std::move(rect), std::move(window),
                                                              std::move(screen));
    };
    e.countdown = [](platform::ScreenRef screen) { return CountdownWindowController::shared().countdown(std::move(screen)); };
    e.windows = [] { return WindowEnumerator::shared().getWindows(); };
    e.pause = []() -> QCoro::Task<void> { co_await QCoro::sleepFor(50ms); };
    e.compositorRunning = [] { return platform::Compositor::isRunning(); };
    e.snapshot = displaySnapshots;
    return e;
}

OverlayWindowController::OverlayWindowController(AppState& appState, Environment environment)
    : appState_(appState), env_(std::move(environment)) {
    // Queued: the display list is read afresh once the toolkit has taken the change in.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenRemoved, this, &OverlayWindowController::displaysChanged,
                Qt::QueuedConnection);
        connect(app, &QGuiApplication::primaryScreenChanged, this, &OverlayWindowController::displaysChanged,
                Qt::QueuedConnection);
        connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
            watchScreen(screen);
            QMetaObject::invokeMethod(this, &OverlayWindowController::displaysChanged, Qt::QueuedConnection);
        });
        for (QScreen* screen : QGuiApplication::screens())
            watchScreen(screen);
    }
}

void OverlayWindowController::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &OverlayWindowController::displaysChanged, Qt::QueuedConnection);
}

OverlayWindowController::~OverlayWindowController() {
    removeKeyboardHandlers();
    removePanels();
}

void OverlayWindowController::removePanels() {
    ++showings_;
    for (auto& [screen, panel] : panels_)
        retire(panel);
    panels_.clear();
    keyPanel_ = nullptr;
    presented_ = false;
}

KeyablePanel* OverlayWindowController::createPanel(const platform::ScreenRef& screen, bool translucent) {
    KeyablePanel* panel = PanelPool::shared().take(screen, translucent);
    if (!panel)
        panel = new KeyablePanel(screen, translucent);
    QPointer<OverlayWindowController> self(this);
    auto* view = new OverlayView(
        appState_, screen,
        [self] {
            if (self)
                self->executeCapture();
        },
        [self] {
            if (self)
                self->hide();
        },
        env_.windows);
    panel->setContentView(view);
    return panel;
}

platform::ScreenRef OverlayWindowController::chooseActiveScreen() const {
    const auto covered = [&](const platform::ScreenRef& screen) { return screen && panels_.count(screen) > 0; };
    platform::ScreenRef active = ScreenExt::screenWithMouse();
    if (!covered(active))
        active = platform::Screen::main();
    if (!covered(active))
        active = panels_.empty() ? nullptr : panels_.begin()->first;
    return active;
}

void OverlayWindowController::show() {
    showOver(nullptr);
}

void OverlayWindowController::showOver(const platform::ScreenRef& preferredActive) {
    removePanels();
    removeKeyboardHandlers();

    const auto screens = platform::Screen::screens();
    // Without a display there is nothing to cover, and keys must keep reaching other windows.
    if (screens.empty()) {
        hide();
        return;
    }
    // The keyboard first: a key typed while the panels get ready must not go to another window.
    takeKeyboard();
    setupKeyboardHandlers();

    // Without a compositor a translucent panel shows black: it paints the desktop's picture
    // beneath its veil instead, and an opaque window costs the X server no blending.
    const bool snapshots = env_.compositorRunning && env_.snapshot && !env_.compositorRunning();
    for (const auto& screen : screens)
        panels_[screen] = createPanel(screen, !snapshots);

    // Chosen before the panels show, so a key pressed meanwhile already acts on it.
    appState_.setIsOverlayVisible(true);
    appState_.setActiveScreen(panels_.count(preferredActive) ? preferredActive : chooseActiveScreen());
    appState_.setHighlightedWindow(std::nullopt);

    if (snapshots)
        presentOverSnapshots(this, showings_, screens);
    else
        presentPanels();
}

void OverlayWindowController::takeKeyboard() {
    // A keyboard grab needs a window on the screen: a pixel of our own outside every display.
    auto* catcher = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                                             Qt::NoDropShadowWindowHint);
    catcher->setAttribute(Qt::WA_ShowWithoutActivating);
    catcher->setWindowTitle(QStringLiteral("Zentola Overlay"));
    catcher->setGeometry(-10, -10, 1, 1);
    catcher->show();
    catcher->grabKeyboard();
    keyCatcher_ = catcher;
}

void OverlayWindowController::releaseKeyCatcher() {
    if (!keyCatcher_)
        return;
    if (QWidget::keyboardGrabber() == keyCatcher_)
        keyCatcher_->releaseKeyboard();
    keyCatcher_->hide();
    keyCatcher_->deleteLater();
    keyCatcher_ = nullptr;
}

QCoro::Task<void> OverlayWindowController::presentOverSnapshots(QPointer<OverlayWindowController> self,
                                                                quint64 showing,
                                                                std::vector<platform::ScreenRef> screens) {
    // Our panels are not over the displays yet (new ones unmapped, used ones parked), so a plain
    // grab is the desktop alone.
    const auto snapshot = self->env_.snapshot;
    std::vector<platform::BitmapRef> taken;
    try {
        taken = co_await snapshot(screens);
    } catch (...) {
        // The panels show without the desktop beneath.
    }
    // Hidden, shown afresh or gone meanwhile.
    if (!self || self->showings_ != showing)
        co_return;
    std::map<platform::ScreenRef, platform::BitmapRef> pictures;
    for (std::size_t i = 0; i < screens.size() && i < taken.size(); ++i)
        pictures[screens[i]] = taken[i];
    for (const auto& [screen, panel] : self->panels_) {
        if (!panel || !panel->contentView())
            continue;
        const platform::BitmapRef& picture = pictures[screen];
        panel->contentView()->setSnapshot(picture);
        // It is what lies beneath the panel, for a capture taken while the overlay is up.
        panel->winId();
        platform::OwnWindows::keep(panel->windowHandle(), screen->nativeGeometry(), picture);
    }
    self->presentPanels();
}

void OverlayWindowController::presentPanels() {
    platform::ScreenRef active = appState_.activeScreen();
    if (!active || !panels_.count(active)) {
        active = chooseActiveScreen();
        appState_.setActiveScreen(active);
    }
    // Showing a view or a panel asks for a repaint later on, which would come after the panels
    // were painted for the first time; taken now, it joins that first painting instead of doubling it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    for (const auto& [screen, panel] : panels_)
        if (panel)
            panel->present();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    presented_ = true;
    keyPanel_ = panels_.count(active) ? panels_.at(active) : nullptr;
    // The panel takes the keyboard over from the catcher.
    if (keyPanel_)
        keyPanel_->makeKey();
    releaseKeyCatcher();
}

void OverlayWindowController::displaysChanged() {
    if (panels_.empty())
        return;
    const auto screens = platform::Screen::screens();
    // A display that came, moved or changed its size: the overlay is put up afresh over the new
    // arrangement, the desktop beneath it taken again, the bar staying where it was. Nothing to
    // cover at all closes it, which gives the keyboard back.
    const bool rearranged = std::any_of(screens.begin(), screens.end(), [&](const platform::ScreenRef& screen) {
        const auto it = panels_.find(screen);
        return it == panels_.end() || !it->second ||
               it->second->home() != platform::WindowPlacement::geometryForScreen(*screen);
    });
    if (screens.empty() || rearranged) {
        showOver(appState_.activeScreen());
        return;
    }
    bool removed = false;
    for (auto it = panels_.begin(); it != panels_.end();) {
        if (std::find(screens.begin(), screens.end(), it->first) != screens.end()) {
            ++it;
            continue;
        }
        retire(it->second, false);
        it = panels_.erase(it);
        removed = true;
    }
    if (!removed)
        return;
    if (panels_.empty()) {
        hide();
        return;
    }
    if (panels_.count(appState_.activeScreen()))
        return;
    // The bar follows the active display, and the keyboard goes with it.
    appState_.setActiveScreen(chooseActiveScreen());
    if (presented_) {
        keyPanel_ = panels_.at(appState_.activeScreen());
        if (keyPanel_)
            keyPanel_->makeKey();
    }
}

void OverlayWindowController::hide() {
    removeKeyboardHandlers();
    removePanels();
    appState_.setIsOverlayVisible(false);
    appState_.setHighlightedWindow(std::nullopt);
    appState_.saveState();
}

bool OverlayWindowController::hasPanels() const {
    if (panels_.empty())
        return false;
    // Up to the user from the moment it is asked for, though its panels wait for the desktop's
    // picture: the shortcut then closes it.
    if (!presented_)
        return std::all_of(panels_.begin(), panels_.end(), [](const auto& entry) { return !entry.second.isNull(); });
    for (const auto& [screen, panel] : panels_)
        if (!panel || !panel->isOnScreen())
            return false;
    return true;
}

void OverlayWindowController::setupKeyboardHandlers() {
    // The keyboard grab of the key panel brings every key here, also while another
    // application is in front, so one application-wide monitor sees them all.
    localKeyMonitor_ = new OverlayKeyMonitor(this);
}

void OverlayWindowController::removeKeyboardHandlers() {
    if (localKeyMonitor_) {
        localKeyMonitor_->uninstall();
        localKeyMonitor_->deleteLater();
        localKeyMonitor_ = nullptr;
    }
    if (keyPanel_)
        keyPanel_->resignKey();
    releaseKeyCatcher();
}

QKeyEvent* OverlayWindowController::handleKeyEvent(QKeyEvent* event) {
    // Modifiers are not looked at: the layout's unshifted character decides.
    switch (event->key()) {
    case Qt::Key_Escape:
        hide();
        return nullptr;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        executeCapture();
        return nullptr;
    case Qt::Key_1:
        appState_.setMode(CaptureMode::screen);
        return nullptr;
    case Qt::Key_2:
        appState_.setMode(CaptureMode::window);
        return nullptr;
    case Qt::Key_3:
        appState_.setMode(CaptureMode::rect);
        return nullptr;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:  // Tab with Shift held
        cycleMode();
        return nullptr;
    default:
        return event;
    }
}

void OverlayWindowController::cycleMode() {
    const auto all = CaptureMode::allCases();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] == appState_.currentMode()) {
            appState_.setMode(all[(i + 1) % all.size()]);
            return;
        }
}

void OverlayWindowController::executeCapture() { runDetached(performCapture()); }

QCoro::Task<void> OverlayWindowController::performCapture() {
    const CaptureType type = appState_.captureType();
    const CaptureMode mode = appState_.currentMode();
    const auto rect = appState_.selectionRect();
    const auto window = appState_.highlightedWindow();
    const auto screen = appState_.activeScreen();
    hide();
    co_await runCapture(env_, type, mode, rect, window, screen);
}

}  // namespace zentola
