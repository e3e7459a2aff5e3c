#pragma once

#include "platform/core/Bitmap.h"
#include "platform/display/Screen.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QWidget;
class QWindow;

namespace zentola {

class CountdownContainerView;

// Counts down on a display before a recording the overlay confirmed: a dimmed veil with a large
// number, a tick sound each step, then the caller's completion. Clicks pass through the veil.
// Without a compositor the veil paints the display's picture beneath its dimming, as nothing
// blends it with the desktop.
class CountdownWindowController : public QObject {
    Q_OBJECT

public:
    // What the countdown reads and plays; system() is the settings store and the desktop's sounds.
    struct Environment {
        std::function<int()> recordingCountdown;
        std::function<bool()> playSounds;
        std::function<void(const QString& name)> playSystemSound;
        std::chrono::milliseconds step = std::chrono::seconds(1);
        // Unset counts as running.
        std::function<bool()> compositorRunning;
        // What the screen shows where the window is about to appear, kept for captures taken while
        // it is up; a null bitmap when it cannot be read.
        std::function<platform::BitmapRef(QWindow* window, const QRect& geometry)> keepBeneath;
        std::function<void(QWindow* window)> forget;

        static Environment system();
    };

    static CountdownWindowController& shared();
    explicit CountdownWindowController(Environment environment);
    ~CountdownWindowController() override;

    // Counts down on screen (none: the main display, else the first) and then calls completion
    // once. With the countdown switched off the completion runs before this returns.
    void showCountdown(platform::ScreenRef screen, std::function<void()> completion);
    // The same, awaited.
    QCoro::Task<void> countdown(platform::ScreenRef screen);

    // The veil of the latest countdown while it runs.
    QWidget* window() const { return window_; }
    int countdownValue() const { return countdownValue_; }
    // Whole seconds, 0 (off) to 10.
    static constexpr int maximumLength = 10;

private:
    void dismiss(QWidget* window);
    void tick();

    Environment env_;
    QPointer<QWidget> window_;
    std::vector<QPointer<QWidget>> windows_;  // every veil still counting
    int countdownValue_ = 3;
};

}  // namespace zentola
