#include "Features/Overlay/CountdownWindowController.h"

#include "Features/Capture/VideoRecordingManager.h"
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
    e.watchRecordingStarts = [](QObject* context, std::function<void()> started) {
        QObject::connect(&VideoRecordingManager::shared(), &VideoRecordingManager::stateChanged, context,
                         [started = std::move(started)](RecordingState state) {
                             if (state == RecordingState::recording)
                                 started();
                         });
    };
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

CountdownWindowController::CountdownWindowController(Environment environment) : env_(std::move(environment)) {
    if (env_.watchRecordingStarts)
        env_.watchRecordingStarts(this, [this] { endAll(); });
}

CountdownWindowController::~CountdownWindowController() {
    for (const Running& r : running_)
        delete r.window.data();
}

void CountdownWindowController::tick() {
    if (env_.playSounds && env_.playSounds() && env_.playSystemSound)
        env_.playSystemSound(QStringLiteral("Tink"));
}

void CountdownWindowController::close(QWidget* window) {
    if (!window)
        return;
    // Before it goes: a recording's first frames racing its going leave it out.
    if (env_.forget)
        env_.forget(window->windowHandle());
    window->hide();
    window->deleteLater();
    if (window_ == window)
        window_ = nullptr;
}

bool CountdownWindowController::dismiss(QWidget* window) {
    const auto it = std::find_if(running_.begin(), running_.end(), [&](const Running& r) { return r.window == window; });
    if (it == running_.end())
        return false;
    running_.erase(it);
    close(window);
    return true;
}

void CountdownWindowController::endAll() {
    // The recording a countdown leads to would not start now: each ends without its completion.
    std::vector<Running> ended;
    ended.swap(running_);
    for (Running& r : ended) {
        close(r.window);
        if (r.overtaken)
            r.overtaken();
    }
}

void CountdownWindowController::showCountdown(platform::ScreenRef screen, std::function<void()> completion,
                                              std::function<void()> overtaken) {
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
    running_.push_back({window, std::move(overtaken)});

    QPointer<CountdownWindowController> self(this);
    QPointer<QWidget> own(window);
    auto* view = new CountdownContainerView(
        n,
        [self, own, completion = std::move(completion)] {
            // Each countdown closes its own veil, also when a newer one has replaced it meanwhile;
            // one a recording ended meanwhile has already been told.
            if (self && !self->dismiss(own))
                return;
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

QCoro::Task<bool> CountdownWindowController::countdown(platform::ScreenRef screen) {
    platform::Completion<bool> done;
    showCountdown(std::move(screen), [done] { done.resolve(true); }, [done] { done.resolve(false); });
    co_return co_await done;
}

}  // namespace zentola
