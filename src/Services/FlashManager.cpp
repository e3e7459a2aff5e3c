#include "Services/FlashManager.h"

#include "platform/capture/OwnWindows.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/WindowPlacement.h"

#include <QEasingCurve>
#include <QPropertyAnimation>
#include <qcoro/qcorosignal.h>

#include <algorithm>
#include <memory>

namespace zentola {
namespace {

QCoro::Task<void> animateAlpha(FlashWindow& window, double alpha, int milliseconds) {
    // Kept until the end: the resumption is queued on the animation and would be dropped if the
    // animation deleted itself on finishing.
    auto animation = std::make_unique<QPropertyAnimation>(&window, "alpha");
    animation->setDuration(milliseconds);
    animation->setStartValue(window.alpha());
    animation->setEndValue(alpha);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->start();
    co_await qCoro(animation.get(), &QPropertyAnimation::finished);
}

}  // namespace

FlashManager& FlashManager::shared() {
    // Never destroyed: its windows must not outlive the application object at exit.
    static auto* manager = new FlashManager;
    return *manager;
}

FlashManager::FlashManager(Animate animate, Compositing compositing)
    : animate_(animate ? std::move(animate) : Animate(animateAlpha)),
      compositing_(compositing ? std::move(compositing) : Compositing(platform::Compositor::isRunning)) {}

FlashManager::~FlashManager() {
    for (FlashWindow* window : flashWindows_)
        delete window;
}

QCoro::Task<void> FlashManager::showFlash(platform::ScreenRef screen) {
    // The main display is the first of the list, so this also covers "else the first display".
    if (!screen)
        screen = platform::Screen::main();
    if (!screen)
        co_return;

    const QRect geometry = platform::WindowPlacement::geometryForScreen(*screen);
    auto* window = new FlashWindow(geometry, compositing_());
    if (QScreen* qs = screen->qscreen())
        window->setScreen(qs);
    flashWindows_.push_back(window);
    // A screenshot taken while the flash is up shows the desktop beneath it; where nothing blends
    // the window, so does the flash itself.
    window->winId();
    platform::BitmapRef beneath = platform::OwnWindows::keepBeneath(window->windowHandle(), geometry);
    if (!window->fades())
        window->setBeneath(std::move(beneath));
    window->show();
    window->raise();

    try {
        co_await animateFlash(*window);
    } catch (...) {
        // The window must not outlive a failed animation.
    }

    window->hide();
    platform::OwnWindows::forget(window->windowHandle());
    flashWindows_.erase(std::remove(flashWindows_.begin(), flashWindows_.end(), window), flashWindows_.end());
    window->deleteLater();
}

QCoro::Task<void> FlashManager::animateFlash(FlashWindow& window) {
    co_await animate_(window, peakAlpha, fadeInMs);
    co_await animate_(window, 0.0, fadeOutMs);
}

}  // namespace zentola
