#include "Features/Onboarding/OnboardingWindowController.h"

#include "platform/core/Log.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <string>

namespace zentola {

OnboardingWindowController& OnboardingWindowController::shared() {
    static auto* controller =
        new OnboardingWindowController(OnboardingView::Environment::system(), [] { QCoreApplication::quit(); });
    return *controller;
}

OnboardingWindowController::OnboardingWindowController(OnboardingView::Environment viewEnvironment,
                                                       std::function<void()> quit)
    : viewEnvironment_(std::move(viewEnvironment)), quit_(std::move(quit)) {}

OnboardingWindowController::~OnboardingWindowController() {
    stopObserving();
}

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
    platform::logLine(std::string("[Zentola] setActivationPolicy(.regular) returned: ") +
                      (platform::Workspace::showsTaskbarEntries() ? "true" : "false"));
    QPointer<QWidget> w = window_;
    QTimer::singleShot(100, this, [w] {
        if (w)
            platform::Workspace::activate(w);
    });
    if (!workspaceObserver_) {
        QPointer<OnboardingWindowController> self(this);
        workspaceObserver_ = platform::Workspace::addApplicationObserver(
            platform::Workspace::ApplicationEvent::didDeactivate, [self](const platform::RunningApplication& app) {
                // Decided on a later turn, with the state of that moment.
                QMetaObject::invokeMethod(
                    self, [self, app] { self->applicationDeactivated(app); }, Qt::QueuedConnection);
            });
    }
}

void OnboardingWindowController::applicationDeactivated(const platform::RunningApplication& application) {
    if (isCompleted_ || !window_ || !platform::Workspace::isSystemSettings(application))
        return;
    platform::logLine("[Zentola] System Settings deactivated, activating ourselves");
    platform::Workspace::activate(window_);
}

void OnboardingWindowController::stopObserving() {
    if (workspaceObserver_)
        platform::Workspace::removeApplicationObserver(workspaceObserver_);
    workspaceObserver_ = 0;
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
    stopObserving();
    if (window_)
        window_->hide();
}

bool OnboardingWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && !isCompleted_ && quit_)
        quit_();
    return QObject::eventFilter(watched, event);
}

}  // namespace zentola
