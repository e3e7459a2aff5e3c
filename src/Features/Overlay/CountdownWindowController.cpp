#include "Features/Overlay/CountdownWindowController.h"

#include "Features/Overlay/CountdownContainerView.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/OwnWindows.h"
#include "platform/core/MainThread.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/SoundPlayer.h"
#include "platform/desktop/WindowPlacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace zentola {

CountdownWindowController::Environment CountdownWindowController::Environment::system() {
    Environment e;
    e.recordingCountdown = [] { return PersistenceManager::shared().recordingCountdown(); };
    e.playSounds = [] { return PersistenceManager::shared().playSounds(); };
    e.compositorRunning = [] { return platform::Compositor::isRunning(); };
    e.keepBeneath = platform::OwnWindows::keepBeneath;
    e.forget = platform::OwnWindows::forget;
    e.playSystemSound = [](const QString& name) {
        // Kept until the next tick: a player stops its sound when it goes.
        static std::shared_ptr<platform::SoundPlayer> player;
        player = platform::SoundPlayer::systemSound(name);
        if (player)
            player->play();
    };
    return e;
}

CountdownWindowController& CountdownWindowController::shared() {
    // Never destroyed: a countdown's timers may outlive the static destructors' order.
    static auto* controller = new CountdownWindowController(Environment::system());
    return *controller;
}

CountdownWindowController::CountdownWindowController(Environment environment) : env_(std::move(environment)) {}

CountdownWindowController::~CountdownWindowController() {
    for (const QPointer<QWidget>& w : windows_)
        delete w.data();
}

void CountdownWindowController::tick() {
    if (env_.playSounds && env_.playSounds() && env_.playSystemSound)
        env_.playSystemSound(QStringLiteral("Tink"));
}

void CountdownWindowController::dismiss(QWidget* window) {
    if (!window)
        return;
    window->hide();
    if (env_.forget)
        env_.forget(window->windowHandle());
    window->deleteLater();
    windows_.erase(std::remove(windows_.begin(), windows_.end(), QPointer<QWidget>(window)), windows_.end());
    if (window_ == window)
        window_ = nullptr;
}

void CountdownWindowController::showCountdown(platform::ScreenRef screen, std::function<void()> completion) {
    // A value written from outside the settings window is kept to what the window offers.
    const int n = std::clamp(env_.recordingCountdown ? env_.recordingCountdown() : 3, 0, maximumLength);
    if (n == 0) {
        if (completion)
            completion();
        return;
    }
    if (!screen)
        screen = platform::Screen::main();
    if (!screen) {
        const auto screens = platform::Screen::screens();
        if (!screens.empty())
            screen = screens.front();
    }
    if (!screen) {
        // Nowhere to show it; the recording itself reports the missing display.
        if (completion)
            completion();
        return;
    }
    countdownValue_ = n;

    // Not parented to this object: a parent would make it a child widget instead of a window.
    auto* window = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                                            Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
                                            Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
    // Nothing blends a translucent window without a compositor: the veil is then opaque and
    // paints the desktop beneath its dimming.
    const bool blends = !env_.compositorRunning || env_.compositorRunning();
    window->setAttribute(Qt::WA_TranslucentBackground, blends);
    window->setAttribute(Qt::WA_TransparentForMouseEvents);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setWindowTitle(QStringLiteral("Zentola Countdown"));
    if (QScreen* qs = screen->qscreen())
        window->setScreen(qs);
    const QRect frame = platform::WindowPlacement::geometryForScreen(*screen);
    window->setGeometry(frame);
    window->winId();
    const platform::BitmapRef beneath = env_.keepBeneath ? env_.keepBeneath(window->windowHandle(), frame) : nullptr;
    window_ = window;
    windows_.push_back(window);

    QPointer<CountdownWindowController> self(this);
    QPointer<QWidget> own(window);
    auto* view = new CountdownContainerView(
        n,
        [self, own, completion = std::move(completion)] {
            // Each countdown closes its own veil, also when a newer one has replaced it meanwhile.
            if (self)
                self->dismiss(own);
            if (completion)
                completion();
        },
        [self] {
            if (self)
                self->tick();
        },
        env_.step, window);
    view->setGeometry(QRect(QPoint(0, 0), window->size()));
    if (!blends)
        view->setSnapshot(beneath);
    window->show();
    window->raise();
    tick();
}

QCoro::Task<void> CountdownWindowController::countdown(platform::ScreenRef screen) {
    platform::Completion<void> done;
    showCountdown(std::move(screen), [done] { done.resolve(); });
    co_await done;
}

}  // namespace zentola
