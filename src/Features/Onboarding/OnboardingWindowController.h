#pragma once

#include "Features/Onboarding/OnboardingView.h"
#include "platform/desktop/Workspace.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace zentola {

// Shows the onboarding view in a small window of its own, the one window that gives the
// application a taskbar entry. Closing it before finishing ends the application. While it is up,
// leaving the desktop's settings program brings it back to the front.
class OnboardingWindowController : public QObject {
    Q_OBJECT
public:
    static OnboardingWindowController& shared();
    // A controller of its own (tests).
    OnboardingWindowController(OnboardingView::Environment viewEnvironment, std::function<void()> quit);
    ~OnboardingWindowController() override;

    void show(std::function<void()> onComplete);
    void hide();

    QWidget* window() const { return window_; }
    OnboardingView* view() const { return view_; }
    bool isCompleted() const { return isCompleted_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createWindow();
    void applicationDeactivated(const platform::RunningApplication& application);
    void stopObserving();

    OnboardingView::Environment viewEnvironment_;
    std::function<void()> quit_;
    QPointer<QWidget> window_;
    QPointer<OnboardingView> view_;
    std::function<void()> onCompleteCallback_;
    bool isCompleted_ = false;
    platform::Workspace::ObserverToken workspaceObserver_ = 0;
};

}  // namespace zentola
