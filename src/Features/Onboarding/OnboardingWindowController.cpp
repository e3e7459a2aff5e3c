#include "Features/Onboarding/OnboardingWindowController.h"

#include "platform/core/Log.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace zentola {

OnboardingWindowController& OnboardingWindowController::shared() {
    static auto* controller =
        new OnboardingWindowController(OnboardingView::Environment::system(), [] { QCoreApplication::quit(); });
    return *controller;
}

OnboardingWindowController::OnboardingWindowController(OnboardingView::Environment viewEnvironment,
                                                       std::function<void()> quit)
    : viewEnvironment_(std::move(viewEnvironment)), quit_(std::move(quit)) {}

void OnboardingWindowController::show(std::function<void()> onComplete) {
    onCompleteCallback_ = std::move(onComplete);
    isCompleted_ = false;
    if (window_) {
        // Dropped without closing, so the close rule does not fire for it.
        window_->removeEventFilter(this);
        window_->hide();
        window_->deleteLater();
    }
    window_ = createWindow();
    window_->installEventFilter(this);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    // A normal window is what gives the application its taskbar entry while onboarding is up.
    window_->show();
    platform::logLine("[Zentola] setActivationPolicy(.regular) returned: true");
    QPointer<QWidget> w = window_;
    QTimer::singleShot(100, this, [w] {
        if (!w)
            return;
        w->raise();
        w->activateWindow();
    });
}

QWidget* OnboardingWindowController::createWindow() {
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint);
    window->setWindowTitle(QStringLiteral("Welcome to Zentola"));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    QPointer<OnboardingWindowController> self(this);
    view_ = new OnboardingView(
        [self] {
            if (!self)
                return;
            self->hide();
            if (self->onCompleteCallback_)
                self->onCompleteCallback_();
        },
        viewEnvironment_);
    layout->addWidget(view_);
    window->setFixedSize(500, 440);
    return window;
}

void OnboardingWindowController::hide() {
    isCompleted_ = true;
    if (window_)
        window_->hide();
}

bool OnboardingWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && !isCompleted_ && quit_)
        quit_();
    return QObject::eventFilter(watched, event);
}

}  // namespace zentola
