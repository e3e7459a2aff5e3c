#pragma once

#include "Features/MenuBar/MenuBarController.h"
#include "Models/CaptureMode.h"
#include "Models/RecordingState.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"
#include "platform/display/Screen.h"

#include <QObject>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class DefaultsStore;
}

namespace zentola {

class AppState;
class HotkeyManager;

// The application's switchboard: start-up, the three capture triggers, stopping a recording,
// clearing a half-shown overlay and the clean-up at quit. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // The overlay of one showing.
    class Overlay {
    public:
        virtual ~Overlay() = default;
        virtual void show() = 0;
        virtual void hide() = 0;
        virtual bool hasPanels() const = 0;
    };

    using CaptureCall = std::function<QCoro::Task<void>(CaptureMode, std::optional<SelectionRect>,
                                                        std::optional<WindowInfo>, platform::ScreenRef)>;

    // Everything the delegate drives; system() is the running application's.
    struct Environment {
        std::function<RecordingState()> recordingState;
        std::function<QCoro::Task<std::optional<QUrl>>()> stopRecording;
        CaptureCall startRecording;
        CaptureCall performCaptureWorkflow;
        std::function<std::vector<WindowInfo>()> windows;
        std::function<void()> checkScreenRecordingPermission;
        std::function<bool()> hasScreenRecordingPermission;
        std::function<bool()> isAccessibilityTrusted;
        std::function<bool()> isSecureEventInputEnabled;
        std::function<platform::DefaultsStore&()> defaults;
        std::function<std::optional<SelectionRect>()> savedRect;
        std::function<bool()> playSounds;
        std::function<void()> playShutterSound;
        // The main display, else the first connected one; none without a display.
        std::function<platform::ScreenRef()> defaultScreen;
        std::function<void(std::function<void()> onComplete)> showOnboarding;
        std::function<std::unique_ptr<Overlay>(AppState&)> makeOverlay;
        std::function<std::unique_ptr<MenuBarController>(MenuBarController::Callback onCaptureTriggered,
                                                         MenuBarController::Callback onCancelCapture,
                                                         MenuBarController::Callback onStopRecording,
                                                         MenuBarController::Callback onQuit)>
            makeMenuBar;
        std::function<void()> quit;

        static Environment system();
    };

    AppDelegate(AppState& appState, Environment environment = Environment::system(), QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // Releases the shortcuts, then finishes a running recording; the process exits once it is done.
    QCoro::Task<void> applicationWillTerminate();

    void startApp();
    bool shouldShowOnboarding() const;
    void showOnboarding();
    void setupMenuBar();
    void setupHotkey();

    void triggerCapture();
    void instantCapture();
    void quickRecord();
    void stopRecording();
    void forceCleanup();
    void cancelCapture();

    QCoro::Task<void> performStopRecording();
    QCoro::Task<void> performInstantCapture();
    QCoro::Task<void> performQuickRecord();
    std::optional<WindowInfo> findLastWindow() const;

    // What an instant capture or quick record aims at.
    struct Target {
        CaptureMode mode;
        std::optional<SelectionRect> rect;
        std::optional<WindowInfo> window;
        platform::ScreenRef screen;
    };
    // The last mode's target, falling back to the whole default display; no display: none.
    std::optional<Target> resolveTarget() const;

    MenuBarController* menuBarController() const { return menuBarController_.get(); }
    Overlay* overlayController() const { return overlayController_.get(); }
    HotkeyManager* hotkeyManager() const { return hotkeyManager_.get(); }

private:
    bool stopIfRecording();
    // A call of the method that does nothing once the delegate is gone.
    std::function<void()> weakly(void (AppDelegate::*method)());

    Environment env_;
    std::unique_ptr<MenuBarController> menuBarController_;
    std::unique_ptr<Overlay> overlayController_;
    std::unique_ptr<HotkeyManager> hotkeyManager_;
    AppState& appState_;
};

}  // namespace zentola
