#pragma once

#include "Services/FlashWindow.h"
#include "platform/display/Screen.h"

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <vector>

namespace zentola {

// The short white flash over a display after a screenshot.
class FlashManager {
public:
    // Animates a window's whiteness to alpha over the given milliseconds; finishes when done.
    using Animate = std::function<QCoro::Task<void>(FlashWindow& window, double alpha, int milliseconds)>;

    // Whether windows can be translucent now.
    using Compositing = std::function<bool()>;

    static FlashManager& shared();
    // Without an animator the real one (eased, on the Qt event loop) is used; without a
    // compositing test, the desktop's.
    explicit FlashManager(Animate animate = {}, Compositing compositing = {});
    ~FlashManager();

    // Shows the flash over the display (null: the main display, else the first one) and returns
    // once it has faded and its window is gone. Without any display it returns at once.
    QCoro::Task<void> showFlash(platform::ScreenRef screen);

    // The flash windows currently showing; several flashes may overlap.
    const std::vector<FlashWindow*>& flashWindows() const { return flashWindows_; }

    // Fade in to 0.3 over 100 ms, then out to 0 over 150 ms; without compositing the window paints
    // the display as it was with the white over it at that alpha.
    static constexpr double peakAlpha = 0.3;
    static constexpr int fadeInMs = 100;
    static constexpr int fadeOutMs = 150;

private:
    QCoro::Task<void> animateFlash(FlashWindow& window);

    Animate animate_;
    Compositing compositing_;
    std::vector<FlashWindow*> flashWindows_;
};

}  // namespace zentola
