#include "App/AppDelegate.h"

#include "App/AppState.h"
#include "App/HotkeyManager.h"
#include "App/ShortcutDefaults.h"
#include "Features/Capture/CaptureManager.h"
#include "Features/Capture/VideoRecordingManager.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Features/Onboarding/OnboardingWindowController.h"
#include "Features/Overlay/OverlayWindowController.h"
#include "Services/PermissionManager.h"
#include "Services/PersistenceManager.h"
#include "Services/SoundManager.h"
#include "packages/GlobalShortcuts/RecorderCocoa.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/Permissions.h"
#include "platform/input/HotKeyCenter.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPointer>

#include <exception>

namespace zentola {
namespace {

class OverlayAdaptor : public AppDelegate::Overlay {
public:
    explicit OverlayAdaptor(AppState& state) : controller_(state) {}
    void show() override { controller_.show(); }
    void hide() override { controller_.hide(); }
    bool hasPanels() const override { return controller_.hasPanels(); }

private:
    OverlayWindowController controller_;
};

void logFailure(const std::string& prefix, const std::exception& error) {
    platform::logLine(prefix + platform::plainText(error));
}

}  // namespace

AppDelegate::Environment AppDelegate::Environment::system() {
    Environment env;
    env.recordingState = [] { return VideoRecordingManager::shared().state(); };
    env.stopRecording = [] { return VideoRecordingManager::shared().stopRecording(); };
    env.startRecording = [](CaptureMode mode, std::optional<SelectionRect> rect, std::optional<WindowInfo> window,
                            platform::ScreenRef screen) {
        return VideoRecordingManager::shared().startRecording(mode, rect, window, screen);
    };
    env.performCaptureWorkflow = [](CaptureMode mode, std::optional<SelectionRect> rect,
                                    std::optional<WindowInfo> window, platform::ScreenRef screen) {
        return CaptureManager::shared().performCaptureWorkflow(mode, rect, window, screen);
    };
    env.windows = [] { return WindowEnumerator::shared().getWindows(); };
    env.checkScreenRecordingPermission = [] { PermissionManager::shared().checkScreenRecordingPermission(); };
    env.hasScreenRecordingPermission = [] { return PermissionManager::shared().hasScreenRecordingPermission(); };
    env.isAccessibilityTrusted = [] { return platform::Permissions::isAccessibilityTrusted(); };
    env.isSecureEventInputEnabled = [] { return platform::HotKeyCenter::shared().isSecureEventInputEnabled(); };
    env.defaults = []() -> platform::DefaultsStore& { return PersistenceManager::shared().defaults(); };
    env.savedRect = [] { return PersistenceManager::shared().savedRect(); };
    env.playSounds = [] { return PersistenceManager::shared().playSounds(); };
    env.playShutterSound = [] { SoundManager::shared().playShutterSound(); };
    env.defaultScreen = [] {
        if (auto main = platform::Screen::main())
            return main;
        const auto screens = platform::Screen::screens();
        return screens.empty() ? platform::ScreenRef() : screens.front();
    };
    env.showOnboarding = [](std::function<void()> onComplete) {
        OnboardingWindowController::shared().show(std::move(onComplete));
    };
    env.makeOverlay = [](AppState& state) -> std::unique_ptr<Overlay> { return std::make_unique<OverlayAdaptor>(state); };
    env.makeMenuBar = [](MenuBarController::Callback capture, MenuBarController::Callback cancel,
                         MenuBarController::Callback stop, MenuBarController::Callback quit) {
        return std::make_unique<MenuBarController>(std::move(capture), std::move(cancel), std::move(stop), std::move(quit));
    };
    env.quit = [] { QCoreApplication::quit(); };
    return env;
}

AppDelegate::AppDelegate(AppState& appState, Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)), appState_(appState) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    env_.checkScreenRecordingPermission();
    if (shouldShowOnboarding())
        showOnboarding();
    else
        startApp();
}

bool AppDelegate::shouldShowOnboarding() const {
    const bool screen = env_.hasScreenRecordingPermission();
    const bool keyboard = env_.isAccessibilityTrusted();
    return !(screen && keyboard);
}

void AppDelegate::startApp() {
    setupMenuBar();
    setupHotkey();
}

void AppDelegate::showOnboarding() {
    env_.showOnboarding(weakly(&AppDelegate::startApp));
}

std::function<void()> AppDelegate::weakly(void (AppDelegate::*method)()) {
    QPointer<AppDelegate> self(this);
    return [self, method] {
        if (self)
            (self.data()->*method)();
    };
}

void AppDelegate::setupMenuBar() {
    auto quit = env_.quit;
    menuBarController_ = env_.makeMenuBar(weakly(&AppDelegate::triggerCapture), weakly(&AppDelegate::cancelCapture),
                                          weakly(&AppDelegate::stopRecording), [quit] { quit(); });
    // The tray menu is the app's menu: a recorded shortcut must not take its keys.
    QPointer<AppDelegate> self(this);
    GlobalShortcuts::RecorderCocoa::setMainMenu([self]() -> QWidget* {
        return self && self->menuBarController_ ? self->menuBarController_->menu() : nullptr;
    });
}

void AppDelegate::setupHotkey() {
    auto manager = std::make_unique<HotkeyManager>();
    ShortcutDefaults::registerDefaults();
    hotkeyManager_ = std::move(manager);
    hotkeyManager_->registerShortcuts(weakly(&AppDelegate::triggerCapture), weakly(&AppDelegate::instantCapture),
                                      weakly(&AppDelegate::quickRecord));
}

bool AppDelegate::stopIfRecording() {
    if (env_.recordingState() != RecordingState::recording)
        return false;
    platform::logLine("[Zentola] Recording active, stopping...");
    stopRecording();
    return true;
}

void AppDelegate::triggerCapture() {
    platform::logLine("[Zentola] triggerCapture called");
    if (stopIfRecording())
        return;
    if (env_.isSecureEventInputEnabled())
        platform::logLine("[Zentola] WARNING: SecureEventInput is enabled by another app - hotkeys may be blocked");
    if (!env_.hasScreenRecordingPermission()) {
        platform::logLine("[Zentola] No screen recording permission, showing onboarding");
        showOnboarding();
        return;
    }
    if (overlayController_ && overlayController_->hasPanels()) {
        platform::logLine("[Zentola] Overlay already visible, hiding");
        forceCleanup();
        return;
    }
    platform::logLine("[Zentola] Creating overlay");
    forceCleanup();
    overlayController_ = env_.makeOverlay(appState_);
    overlayController_->show();
    platform::logLine("[Zentola] Overlay show() called");
}

void AppDelegate::instantCapture() {
    if (stopIfRecording())
        return;
    if (!env_.hasScreenRecordingPermission()) {
        showOnboarding();
        return;
    }
    performInstantCapture();
}

void AppDelegate::quickRecord() {
    if (stopIfRecording())
        return;
    if (!env_.hasScreenRecordingPermission()) {
        showOnboarding();
        return;
    }
    performQuickRecord();
}

void AppDelegate::stopRecording() {
    performStopRecording();
}

QCoro::Task<void> AppDelegate::performStopRecording() {
    if (env_.recordingState() != RecordingState::recording)
        co_return;
    platform::logLine("[Zentola] Stopping recording...");
    // Copies: the delegate may be gone by the time the recorder answers.
    auto playSounds = env_.playSounds;
    auto playShutterSound = env_.playShutterSound;
    std::optional<QUrl> location;
    try {
        location = co_await env_.stopRecording();
    } catch (const std::exception& e) {
        logFailure("[Zentola] Stop recording failed: ", e);
        co_return;
    }
    if (!location)
        co_return;
    platform::logLine("[Zentola] Recording saved to: " + location->toLocalFile().toStdString());
    if (playSounds())
        playShutterSound();
}

std::optional<WindowInfo> AppDelegate::findLastWindow() const {
    const platform::DefaultsStore& defaults = env_.defaults();
    const auto owner = defaults.stringForKey(QStringLiteral("zentola.lastWindowOwnerName"));
    if (!owner)
        return std::nullopt;
    const auto windows = env_.windows();
    if (const auto title = defaults.stringForKey(QStringLiteral("zentola.lastWindowTitle"))) {
        for (const WindowInfo& w : windows)
            if (w.ownerName == owner && w.title == title)
                return w;
    }
    for (const WindowInfo& w : windows)
        if (w.ownerName == owner)
            return w;
    return std::nullopt;
}

std::optional<AppDelegate::Target> AppDelegate::resolveTarget() const {
    const auto raw = env_.defaults().stringForKey(QStringLiteral("zentola.lastCaptureMode"));
    const CaptureMode mode = raw ? CaptureMode::fromRawValue(*raw).value_or(CaptureMode::screen) : CaptureMode(CaptureMode::screen);
    const auto savedRect = env_.savedRect();
    const platform::ScreenRef defaultScreen = env_.defaultScreen();

    if (mode == CaptureMode::window) {
        if (auto window = findLastWindow())
            return defaultScreen ? std::optional(Target{CaptureMode::window, std::nullopt, window, defaultScreen})
                                 : std::nullopt;
    } else if (mode == CaptureMode::rect && savedRect) {
        if (platform::ScreenRef screen = savedRect->screen();
            screen && screen->deviceDescription().contains(QStringLiteral("NSScreenNumber")))
            return Target{CaptureMode::rect, savedRect, std::nullopt, screen};
    }
    if (!defaultScreen)
        return std::nullopt;
    return Target{CaptureMode::screen, std::nullopt, std::nullopt, defaultScreen};
}

QCoro::Task<void> AppDelegate::performInstantCapture() {
    const auto target = resolveTarget();
    if (!target) {
        platform::logLine("Instant capture failed: no display connected");
        co_return;
    }
    auto capture = env_.performCaptureWorkflow;
    try {
        co_await capture(target->mode, target->rect, target->window, target->screen);
    } catch (const std::exception& e) {
        logFailure("Instant capture failed: ", e);
    }
}

QCoro::Task<void> AppDelegate::performQuickRecord() {
    const auto target = resolveTarget();
    if (!target) {
        platform::logLine("[Zentola] Quick record failed: no display connected");
        co_return;
    }
    auto record = env_.startRecording;
    // The recorder refuses a start while a recording runs or stops, and returns as from one.
    const bool idle = env_.recordingState() == RecordingState::idle;
    try {
        co_await record(target->mode, target->rect, target->window, target->screen);
        if (idle)
            platform::logLine("[Zentola] Quick record started");
    } catch (const std::exception& e) {
        logFailure("[Zentola] Quick record failed: ", e);
    }
}

void AppDelegate::cancelCapture() {
    forceCleanup();
}

void AppDelegate::forceCleanup() {
    if (overlayController_)
        overlayController_->hide();
    overlayController_.reset();
    appState_.setIsOverlayVisible(false);
    appState_.setHighlightedWindow(std::nullopt);
}

QCoro::Task<void> AppDelegate::applicationWillTerminate() {
    if (hotkeyManager_)
        hotkeyManager_->unregister();
    if (env_.recordingState() != RecordingState::recording)
        co_return;
    // The caller waits for this before the process exits, so a quit while recording still leaves
    // a finished movie.
    auto stop = env_.stopRecording;
    try {
        co_await stop();
    } catch (const std::exception& e) {
        logFailure("[Zentola] Stop recording failed: ", e);
    }
}

}  // namespace zentola
