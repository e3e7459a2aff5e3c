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
        // Calls the function, in the context's lifetime, each time a recording starts (by any way).
        std::function<void(QObject* context, std::function<void()> started)> watchRecordingStarts;

        static Environment system();
    };

    static CountdownWindowController& shared();
    explicit CountdownWindowController(Environment environment);
    ~CountdownWindowController() override;

    // Counts down on screen (none: the main display, else the first) and then calls completion
    // once. With the countdown switched off the completion runs before this returns. A recording
    // that starts meanwhile by another way (quick record) ends the countdown: its veil goes and
    // overtaken runs instead of the completion, as the recording it leads to would not start.
    void showCountdown(platform::ScreenRef screen, std::function<void()> completion,
                       std::function<void()> overtaken = {});
    // The same, awaited: true once it ran out, false when a recording started meanwhile.
    QCoro::Task<bool> countdown(platform::ScreenRef screen);
    // Ends every countdown still running, each as overtaken.
    void endAll();

    // The veil of the latest countdown while it runs.
    QWidget* window() const { return window_; }
    int countdownValue() const { return countdownValue_; }
    // Whole seconds, 0 (off) to 10.
    static constexpr int maximumLength = 10;

private:
    struct Running {
        QPointer<QWidget> window;
        std::function<void()> overtaken;
    };
    // Closes a veil; false when its countdown had already ended.
    bool dismiss(QWidget* window);
    void close(QWidget* window);
    void tick();

    Environment env_;
    QPointer<QWidget> window_;
    std::vector<Running> running_;  // every countdown still counting
    int countdownValue_ = 3;
};

}  // namespace zentola
