#pragma once

#include <QObject>
#include <QPointer>

#include <map>

class QKeyEvent;

namespace zentola {

class OverlayWindowController;

// Shows the overlay every key press that reaches the application; a key the overlay takes goes
// no further. Once the controller is gone every key passes.
//
// The overlay holds the keyboard while it shows, which keeps the desktop from firing the global
// shortcuts; their keys arrive here instead and are handed to the shortcut package.
class OverlayKeyMonitor : public QObject {
    Q_OBJECT

public:
    explicit OverlayKeyMonitor(OverlayWindowController* controller);
    ~OverlayKeyMonitor() override;

    // Stops looking at keys at once (the monitor may be inside its own handler).
    void uninstall();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when the key was a global shortcut and has been acted on.
    bool forwardToShortcuts(QKeyEvent* key);

    QPointer<OverlayWindowController> controller_;
    // Virtual key code to the hot-key modifiers of each shortcut pressed and not yet released.
    std::map<int, quint32> heldShortcuts_;
};

}  // namespace zentola
