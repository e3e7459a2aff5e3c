#pragma once

#include "Models/CaptureMode.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"
#include "platform/core/Bitmap.h"
#include "platform/display/Screen.h"

#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class QKeyEvent;
class QScreen;
class QWidget;

namespace zentola {

class AppState;
class KeyablePanel;
class OverlayKeyMonitor;

// Puts the capture overlay on every display, handles its keys, and runs the capture the user
// confirms. One controller per showing; main thread only.
class OverlayWindowController : public QObject {
    Q_OBJECT

public:
    // What a confirmed capture calls; system() is the real capture core.
    struct Environment {
        std::function<QCoro::Task<void>(CaptureMode mode, std::optional<SelectionRect> rect,
                                        std::optional<WindowInfo> window, platform::ScreenRef screen)>
            performCaptureWorkflow;
        std::function<QCoro::Task<void>(CaptureMode mode, std::optional<SelectionRect> rect,
                                        std::optional<WindowInfo> window, platform::ScreenRef screen)>
            startRecording;
        // Resolves when the countdown on the display is over (at once when it is switched off):
        // true when it ran out, false when a recording started meanwhile by another way.
        std::function<QCoro::Task<bool>(platform::ScreenRef screen)> countdown;
        // The windows window mode offers, frontmost first.
        std::function<std::vector<WindowInfo>()> windows;
        // The pause between hiding the overlay and capturing, so its panels are off the screen.
        std::function<QCoro::Task<void>()> pause;
        // Whether translucent windows blend with what lies beneath them; unset counts as yes.
        std::function<bool()> compositorRunning;
        // Each display as it looks now, at its native pixels, in the order given; null where it
        // cannot be had. Taken when nothing blends the panels, to paint beneath them.
        std::function<QCoro::Task<std::vector<platform::BitmapRef>>(std::vector<platform::ScreenRef> screens)>
            snapshot;

        static Environment system();
    };

    explicit OverlayWindowController(AppState& appState, Environment environment = Environment::system());
    ~OverlayWindowController() override;

    // Without a compositor the panels appear once each display's snapshot is taken; the keyboard
    // is the overlay's from the start, so no key pressed meanwhile is lost.
    void show();
    void hide();
    // True when there are panels and every one of them is over its display, or they are still
    // waiting for the snapshots to show.
    bool hasPanels() const;
    // Follows the display list: a removed display's panel goes, and the bar and the keyboard move
    // to a remaining display when theirs went; a display added, moved or resized puts the overlay
    // up again over the new arrangement; no display left closes it. The toolkit's screen changes
    // call it.
    void displaysChanged();

    // Starts performCapture() as a task of its own.
    void executeCapture();
    QCoro::Task<void> performCapture();

    // An event to pass on, or nothing when the overlay took the key.
    QKeyEvent* handleKeyEvent(QKeyEvent* event);

    AppState& appState() const { return appState_; }
    // The panel over each display while shown.
    const std::map<platform::ScreenRef, QPointer<KeyablePanel>>& panels() const { return panels_; }
    // Whether the key monitor is installed.
    bool hasKeyMonitor() const { return localKeyMonitor_ != nullptr; }

    OverlayWindowController(const OverlayWindowController&) = delete;
    OverlayWindowController& operator=(const OverlayWindowController&) = delete;

private:
    KeyablePanel* createPanel(const platform::ScreenRef& screen, bool translucent);
    // show(), keeping the bar on that display when it is still there.
    void showOver(const platform::ScreenRef& preferredActive);
    void watchScreen(QScreen* screen);
    // The display under the mouse, else the main one, else any: one that has a panel.
    platform::ScreenRef chooseActiveScreen() const;
    void presentPanels();
    static QCoro::Task<void> presentOverSnapshots(QPointer<OverlayWindowController> self, quint64 showing,
                                                  std::vector<platform::ScreenRef> screens);
    // Holds the keyboard through a window of its own until the panels can.
    void takeKeyboard();
    void releaseKeyCatcher();
    void setupKeyboardHandlers();
    void removeKeyboardHandlers();
    void cycleMode();
    void removePanels();

    AppState& appState_;
    Environment env_;
    std::map<platform::ScreenRef, QPointer<KeyablePanel>> panels_;
    OverlayKeyMonitor* localKeyMonitor_ = nullptr;
    QPointer<KeyablePanel> keyPanel_;
    QPointer<QWidget> keyCatcher_;
    bool presented_ = false;
    // Counts show() and hide() calls, so a snapshot that arrives late knows it is stale.
    quint64 showings_ = 0;
};

}  // namespace zentola
