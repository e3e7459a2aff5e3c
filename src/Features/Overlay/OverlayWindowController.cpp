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
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/desktop/Compositor.h"

#include <QKeyEvent>
#include <qcoro/qcorotimer.h>

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

void retire(KeyablePanel* panel) {
    if (!panel)
        return;
    if (OverlayView* view = panel->contentView())
        view->setSnapshot(QImage());
    panel->resignKey();
    panel->hide();
    // Later: the panel may be the one whose key or click brought us here.
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
        co_await env.countdown(screen);
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

// The display's native pixels as the X server shows them, cursor left out: the real one stays above.
QCoro::Task<QImage> displaySnapshot(platform::ScreenRef screen) {
    platform::ShareableDisplay display;
    display.nativeGeometry = screen->nativeGeometry();
    display.scaleFactor = screen->backingScaleFactor() > 0 ? screen->backingScaleFactor() : 1.0;
    platform::StreamConfiguration configuration;
    configuration.showsCursor = false;
    const platform::BitmapRef bitmap = co_await platform::ScreenshotService::captureImage(
        platform::ContentFilter::forDisplay(display, {}, {}), configuration);
    // Over the grab's own pixels, no copy; the image keeps the bitmap alive.
    co_return QImage(
        bitmap->data(), bitmap->width(), bitmap->height(), bitmap->bytesPerRow(), bitmap->asQImage().format(),
        [](void* kept) { delete static_cast<platform::BitmapRef*>(kept); }, new platform::BitmapRef(bitmap));
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
    e.snapshot = displaySnapshot;
    return e;
}

OverlayWindowController::OverlayWindowController(AppState& appState, Environment environment)
    : appState_(appState), env_(std::move(environment)) {}

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
}

KeyablePanel* OverlayWindowController::createPanel(const platform::ScreenRef& screen) {
    auto* panel = new KeyablePanel(screen);
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

void OverlayWindowController::show() {
    removePanels();
    removeKeyboardHandlers();

    const auto screens = platform::Screen::screens();
    // Without a display there is nothing to cover, and keys must keep reaching other windows.
    if (screens.empty())
        return;
    for (const auto& screen : screens)
        panels_[screen] = createPanel(screen);

    // Without a compositor a translucent panel shows black: it paints the desktop's picture first.
    if (env_.compositorRunning && env_.snapshot && !env_.compositorRunning()) {
        presentOverSnapshots(this, showings_, screens);
        return;
    }
    presentPanels(screens);
}

QCoro::Task<void> OverlayWindowController::presentOverSnapshots(QPointer<OverlayWindowController> self,
                                                                quint64 showing,
                                                                std::vector<platform::ScreenRef> screens) {
    // Our panels are not mapped yet, so a plain grab is the desktop alone.
    const auto snapshot = self->env_.snapshot;
    std::map<platform::ScreenRef, QImage> pictures;
    for (const auto& screen : screens) {
        QImage picture;
        try {
            picture = co_await snapshot(screen);
        } catch (...) {
            // That panel stays translucent.
        }
        // Hidden, shown afresh or gone meanwhile.
        if (!self || self->showings_ != showing)
            co_return;
        pictures[screen] = std::move(picture);
    }
    for (const auto& [screen, panel] : self->panels_)
        if (panel && panel->contentView())
            panel->contentView()->setSnapshot(pictures[screen]);
    self->presentPanels(screens);
}

void OverlayWindowController::presentPanels(const std::vector<platform::ScreenRef>& screens) {
    // Only a display that has a panel can take the keys and the bar: the list may have changed
    // while the snapshots were taken.
    const auto covered = [&](const platform::ScreenRef& screen) { return screen && panels_.count(screen) > 0; };
    platform::ScreenRef active = ScreenExt::screenWithMouse();
    if (!covered(active))
        active = platform::Screen::main();
    if (!covered(active))
        active = screens.front();

    for (const auto& [screen, panel] : panels_) {
        if (!panel)
            continue;
        panel->show();
        panel->raise();
        if (screen == active)
            keyPanel_ = panel;
    }
    if (keyPanel_)
        keyPanel_->makeKey();

    appState_.setIsOverlayVisible(true);
    appState_.setActiveScreen(active);
    appState_.setHighlightedWindow(std::nullopt);

    setupKeyboardHandlers();
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
    for (const auto& [screen, panel] : panels_)
        if (!panel || !panel->isVisible())
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
