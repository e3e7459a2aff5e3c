#pragma once

#include <QObject>
#include <QPointer>

namespace zentola {

class OverlayWindowController;

// Shows the overlay every key press that reaches the application; a key the overlay takes goes
// no further. Once the controller is gone every key passes.
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
    QPointer<OverlayWindowController> controller_;
};

}  // namespace zentola
