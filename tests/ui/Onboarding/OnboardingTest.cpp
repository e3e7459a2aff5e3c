#include "Features/Onboarding/OnboardingView.h"
#include "Features/Onboarding/OnboardingWindowController.h"
#include "platform/core/MainThread.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

class Onboarding : public testing::Test {
protected:
    OnboardingView::Environment environment() {
        OnboardingView::Environment env;
        env.preflightScreenCapture = [this] { return screen; };
        env.requestScreenCapture = [this] {
            calls.push_back("requestScreen");
            return screen;
        };
        env.isAccessibilityTrusted = [this] { return keyboard; };
        env.hasMicrophonePermission = [this] { return microphone; };
        env.requestMicrophonePermission = [this]() -> QCoro::Task<bool> {
            calls.push_back("requestMicrophone");
            microphone = co_await microphoneAnswer;
            co_return microphone;
        };
        env.openAccessibilitySettings = [this] {
            calls.push_back("openAccessibility");
            return true;
        };
        env.startDetached = [this](const QString& program, const QStringList& arguments) {
            calls.push_back((program + " " + arguments.join(" ")).toStdString());
            return childStarts;
        };
        env.applicationFilePath = [] { return QStringLiteral("/opt/My Apps/zentola"); };
        env.quit = [this] { calls.push_back("quit"); };
        return env;
    }

    std::unique_ptr<OnboardingView> makeView() {
        return std::make_unique<OnboardingView>([this] { calls.push_back("complete"); }, environment());
    }

    // The footer form on show: 0 start, 1 restart notice, 2 grant both.
    static int footer(const OnboardingView& v) {
        const bool start = !v.startButton()->isHidden();
        const bool restart = !v.quitAndReopenButton()->isHidden();
        const bool grant = !v.grantBothNotice()->isHidden();
        EXPECT_EQ(int(start) + int(restart) + int(grant), 1);
        EXPECT_EQ(restart, !v.restartNotice()->isHidden());
        return start ? 0 : restart ? 1 : 2;
    }

    bool screen = false;
    bool keyboard = true;
    bool microphone = false;
    bool childStarts = true;
    platform::Completion<bool> microphoneAnswer;
    std::vector<std::string> calls;
};

TEST_F(Onboarding, GetStartedStartsPollingAndTheFirstReadingOnlyRecords) {
    auto view = makeView();
    EXPECT_EQ(view->currentStep(), OnboardingView::OnboardingStep::welcome);
    EXPECT_EQ(view->permissionTimer(), nullptr);
    EXPECT_TRUE(view->hasAccessibilityPermission());
    EXPECT_FALSE(view->permissionsChanged());  // granted before the view came up

    view->getStartedButton()->click();
    EXPECT_EQ(view->currentStep(), OnboardingView::OnboardingStep::permissions);
    ASSERT_NE(view->permissionTimer(), nullptr);
    EXPECT_TRUE(view->permissionTimer()->isActive());
    EXPECT_EQ(view->permissionTimer()->interval(), 1000);
    EXPECT_EQ(footer(*view), 2);
    EXPECT_FALSE(view->grantedMark(1)->isHidden());
    EXPECT_TRUE(view->openSettingsButton(1)->isHidden());
    EXPECT_FALSE(view->openSettingsButton(0)->isHidden());
}

TEST_F(Onboarding, NewGrantWhileARequiredOneIsMissingOffersQuitAndReopen) {
    keyboard = false;
    auto view = makeView();
    view->getStartedButton()->click();
    keyboard = true;
    view->refreshPermissions();
    EXPECT_TRUE(view->permissionsChanged());
    EXPECT_EQ(footer(*view), 1);
    EXPECT_FALSE(view->grantedMark(1)->isHidden());

    keyboard = false;  // revoked: the row goes back, the notice stays
    view->refreshPermissions();
    EXPECT_TRUE(view->permissionsChanged());
    EXPECT_FALSE(view->openSettingsButton(1)->isHidden());
    EXPECT_EQ(footer(*view), 1);

    keyboard = screen = true;
    view->refreshPermissions();
    EXPECT_EQ(footer(*view), 0);
}

TEST_F(Onboarding, MicrophoneNeverDecidesTheFooterButCountsAsAGrant) {
    screen = keyboard = true;
    auto view = makeView();
    view->getStartedButton()->click();
    EXPECT_EQ(footer(*view), 0);  // both already there: finish at once

    screen = false;
    auto other = makeView();
    other->getStartedButton()->click();
    other->openSettingsButton(2)->click();
    EXPECT_EQ(calls, std::vector<std::string>{"requestMicrophone"});
    microphoneAnswer.resolve(true);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(other->hasMicrophonePermission());
    EXPECT_FALSE(other->grantedMark(2)->isHidden());
    EXPECT_EQ(footer(*other), 1);
}

TEST_F(Onboarding, OpenSettingsButtonsAskAndPoll) {
    auto view = makeView();
    keyboard = false;
    view->refreshPermissions();
    ASSERT_EQ(view->permissionTimer(), nullptr);  // the welcome page does not poll
    view->openSettingsButton(0)->click();
    EXPECT_NE(view->permissionTimer(), nullptr);
    view->openSettingsButton(1)->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"requestScreen", "openAccessibility"}));
    view->hide();
    view->show();
    view->hide();  // the view went away
    EXPECT_EQ(view->permissionTimer(), nullptr);
}

TEST_F(Onboarding, PermissionsPageShownAgainPollsAgainAndReadsWhatChanged) {
    keyboard = false;
    auto view = makeView();
    view->show();
    view->getStartedButton()->click();
    view->hide();  // minimised while the user is in the desktop's settings
    EXPECT_EQ(view->permissionTimer(), nullptr);
    keyboard = true;
    view->show();
    ASSERT_NE(view->permissionTimer(), nullptr);
    EXPECT_TRUE(view->permissionTimer()->isActive());
    EXPECT_TRUE(view->hasAccessibilityPermission());
    EXPECT_TRUE(view->permissionsChanged());
    EXPECT_EQ(footer(*view), 1);

    auto welcome = makeView();  // the welcome page never polls, however often it is shown
    welcome->show();
    welcome->hide();
    welcome->show();
    EXPECT_EQ(welcome->permissionTimer(), nullptr);
}

TEST_F(Onboarding, QuitAndReopenRelaunchesThisProgramAfterHalfASecond) {
    auto view = makeView();
    view->quitAndReopen();
    EXPECT_EQ(calls, (std::vector<std::string>{"/bin/sh -c sleep 0.5; '/opt/My Apps/zentola'", "quit"}));
    EXPECT_EQ(OnboardingView::reopenCommand("/a/it's \"here\""), "sleep 0.5; '/a/it'\\''s \"here\"'");

    calls.clear();
    childStarts = false;  // quitting without a relaunch would leave nothing running
    testing::internal::CaptureStdout();
    view->quitAndReopen();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls.size(), 1u);
}

class OnboardingWindow : public Onboarding {
protected:
    void SetUp() override {
        controller = std::make_unique<OnboardingWindowController>(environment(), [this] { calls.push_back("quit"); });
    }
    void TearDown() override {
        if (controller->window())
            delete controller->window();
    }
    void show(const std::string& tag) {
        testing::internal::CaptureStdout();
        controller->show([this, tag] { calls.push_back("done " + tag); });
        shown = testing::internal::GetCapturedStdout();
    }
    std::unique_ptr<OnboardingWindowController> controller;
    std::string shown;
};

TEST_F(OnboardingWindow, ShowsATitledFixedWindowAndLogsTheTaskbarSwitch) {
    show("a");
    QWidget* w = controller->window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Welcome to Zentola");
    EXPECT_EQ(w->size(), QSize(500, 440));
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(w->windowType(), Qt::Window);  // a normal window: the taskbar shows it
    EXPECT_EQ(shown, "[Zentola] setActivationPolicy(.regular) returned: true\n");
}

TEST_F(OnboardingWindow, ClosingBeforeFinishingQuitsButNotAfter) {
    show("a");
    controller->window()->close();
    EXPECT_EQ(calls, std::vector<std::string>{"quit"});

    calls.clear();
    screen = keyboard = true;
    show("b");
    controller->view()->getStartedButton()->click();
    controller->view()->startButton()->click();
    EXPECT_TRUE(controller->isCompleted());
    EXPECT_EQ(controller->view()->permissionTimer(), nullptr);
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(calls, std::vector<std::string>{"done b"});
    controller->window()->close();
    EXPECT_EQ(calls, std::vector<std::string>{"done b"});
}

TEST_F(OnboardingWindow, ShowingTwiceKeepsOneWindowAndTheLatestCompletion) {
    screen = keyboard = true;
    show("first");
    QPointer<QWidget> first = controller->window();
    show("second");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());  // dropped without a close: nothing quit
    EXPECT_TRUE(calls.empty());
    int visible = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        visible += w->isVisible() && w->windowTitle() == "Welcome to Zentola";
    EXPECT_EQ(visible, 1);
    controller->view()->getStartedButton()->click();
    controller->view()->startButton()->click();
    EXPECT_EQ(calls, std::vector<std::string>{"done second"});
}

}  // namespace
