#include "Features/Onboarding/OnboardingView.h"
#include "Features/Onboarding/OnboardingWindowController.h"
#include "platform/core/MainThread.h"
#include "support/Printed.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace zentola;
using Calls = std::vector<std::string>;

namespace {

class Onboarding : public testing::Test {
protected:
    OnboardingView::Environment environment() {
        OnboardingView::Environment env;
        env.preflightScreenCapture = [this] { return screen; };
        env.isAccessibilityTrusted = [this] { return keyboard; };
        env.hasMicrophonePermission = [this] { return microphone; };
        env.requestMicrophonePermission = [this]() -> QCoro::Task<bool> {
            calls.push_back("requestMicrophone");
            co_return microphone = co_await microphoneAnswer;
        };
        env.openAccessibilitySettings = [this] { return calls.push_back("openAccessibility"), true; };
        env.startDetached = [this](const QString& program, const QStringList& arguments) {
            calls.push_back((program + " " + arguments.join(" ")).toStdString());
            return childStarts;
        };
        env.applicationFilePath = [] { return QStringLiteral("/opt/My Apps/it's"); };
        env.processId = [] { return qint64(42); };
        env.quit = [this] { calls.push_back("quit"); };
        return env;
    }
    std::unique_ptr<OnboardingView> makeView() {
        return std::make_unique<OnboardingView>([this] { calls.push_back("complete"); }, environment());
    }
    // The rows' states (+ granted, - with its "Open Settings" button) and the footer's one form.
    static std::string shown(const OnboardingView& v) {
        std::string out;
        for (int row = 0; row < 3; ++row)
        {
            QWidget* missing = v.openSettingsButton(row) ? static_cast<QWidget*>(v.openSettingsButton(row))
                                                         : v.missingNote(row);
            out += v.grantedMark(row)->isHidden() == missing->isHidden() ? '?'
                   : v.grantedMark(row)->isHidden()                      ? '-'
                                                                         : '+';
        }
        for (auto [form, hidden] : {std::pair{" start", v.startButton()->isHidden()},
                                    {" restart", v.quitAndReopenButton()->isHidden() || v.restartNotice()->isHidden()},
                                    {" grant", v.grantBothNotice()->isHidden()}})
            out += hidden ? "" : form;
        return out;
    }

    bool screen = false, keyboard = true, microphone = false, childStarts = true;
    platform::Completion<bool> microphoneAnswer;
    Calls calls;
};

TEST_F(Onboarding, PermissionsPagePollsAndFollowsTheGrants_OnlyTheTwoRequiredOnesDecide) {
    keyboard = false;
    auto view = makeView();
    view->refreshPermissions();
    EXPECT_EQ(view->permissionTimer(), nullptr);  // the welcome page does not poll
    view->getStartedButton()->click();
    ASSERT_NE(view->permissionTimer(), nullptr);
    EXPECT_EQ(view->permissionTimer()->interval(), 1000);
    EXPECT_EQ(shown(*view), "--- grant");
    for (auto [now, expected] : {std::pair{true, "-+- restart"}, {false, "--- restart"}}) {  // granted, then revoked
        keyboard = now;
        view->refreshPermissions();
        EXPECT_EQ(shown(*view), expected);
    }
    // The display grants screen access by itself: there is nothing to open, and the row says why.
    EXPECT_EQ(view->openSettingsButton(0), nullptr);
    EXPECT_EQ(view->missingNote(0)->text(), "No access to the display");
    view->openSettingsButton(1)->click();
    view->openSettingsButton(2)->click();
    microphoneAnswer.resolve(true);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(calls, (Calls{"openAccessibility", "requestMicrophone"}));
    EXPECT_EQ(shown(*view), "--+ restart");  // the microphone alone finishes nothing
    keyboard = screen = true;
    view->refreshPermissions();
    EXPECT_EQ(shown(*view), "+++ start");
    view->show();
    view->startButton()->click();
    EXPECT_EQ(view->permissionTimer(), nullptr);
    EXPECT_EQ(calls.back(), "complete");
    // Every row shows its own symbol, not the desktop theme's.
    QList<QLabel*> symbols = view->findChildren<QLabel*>("rowSymbol");
    EXPECT_EQ(symbols.size(), 3);
    for (QLabel* symbol : symbols << view->grantedMark(0))
        EXPECT_FALSE(symbol->pixmap().isNull());

    view->getStartedButton()->click();  // hidden (minimised) and shown again: polling stops, then resumes
    view->hide();
    EXPECT_EQ(view->permissionTimer(), nullptr);
    view->show();
    EXPECT_NE(view->permissionTimer(), nullptr);
    EXPECT_FALSE(makeView()->permissionsChanged());  // what was granted before the view came up is no change
}

// The darkest pixel's distance from the page's own colour in a widget as drawn, and the horizontal
// centre of what differs from it.
struct Drawn {
    int darkest = 255;
    double centre = -1;
};
Drawn drawn(QWidget* widget, QColor page) {
    const QImage image = widget->grab().toImage();
    Drawn d;
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            d.darkest = std::min(d.darkest, qGray(c.rgb()));
            if (std::abs(c.red() - page.red()) + std::abs(c.green() - page.green()) + std::abs(c.blue() - page.blue()) > 30)
                left = std::min(left, x), right = std::max(right, x);
        }
    if (right >= 0)
        d.centre = (left + right + 1) / 2.0 / widget->grab().devicePixelRatio();
    return d;
}

TEST_F(Onboarding, RowSymbolsSitCentredInTheirFrame_DividersAreFaintLines) {
    auto view = makeView();
    view->getStartedButton()->click();
    view->show();
    const QColor page = view->palette().color(QPalette::Window);
    QList<QLabel*> symbols = view->findChildren<QLabel*>("rowSymbol");
    ASSERT_EQ(symbols.size(), 3);
    for (QLabel* symbol : symbols) {
        ASSERT_EQ(symbol->width(), 36);
        EXPECT_NEAR(drawn(symbol, page).centre, 18.0, 1.5);
    }
    QList<QFrame*> dividers = view->findChildren<QFrame*>("rowDivider");
    ASSERT_EQ(dividers.size(), 2);
    for (QFrame* divider : dividers) {
        EXPECT_GT(drawn(divider, page).darkest, 110);  // not the theme's black frame line
    }
}

TEST_F(Onboarding, QuitAndReopenQuitsOnlyOnceTheRelaunchHasStarted) {
    auto view = makeView();
    view->quitAndReopen();
    EXPECT_EQ(calls, (Calls{"/bin/sh -c " + OnboardingView::reopenCommand("/opt/My Apps/it's", 42).toStdString(), "quit"}));
    calls.clear();
    childStarts = false;  // quitting without a relaunch would leave nothing running
    EXPECT_EQ(printedBy([&] { view->quitAndReopen(); }).size(), 1u);
    EXPECT_EQ(calls.size(), 1u);
}

class OnboardingWindow : public Onboarding {
protected:
    void SetUp() override {
        controller = std::make_unique<OnboardingWindowController>(environment(), [this] { calls.push_back("quit"); });
    }
    void TearDown() override { delete controller->window(); }
    std::vector<std::string> show(const std::string& tag) {
        return printedBy([&] { controller->show([this, tag] { calls.push_back("done " + tag); }); }, 0);
    }
    std::unique_ptr<OnboardingWindowController> controller;
};

TEST_F(OnboardingWindow, ATitledWindowThatQuitsWhenClosedBeforeFinishing) {
    // No window manager lists windows here: the platform says no.
    EXPECT_EQ(show("a"), std::vector<std::string>{"[Zentola] setActivationPolicy(.regular) returned: false"});
    QWidget* w = controller->window();
    EXPECT_EQ(w->windowTitle(), "Welcome to Zentola");
    EXPECT_EQ(w->size(), QSize(500, 440));
    EXPECT_EQ(w->windowType(), Qt::Window);  // a normal window: a taskbar shows it
    w->close();
    EXPECT_EQ(calls, Calls{"quit"});

    calls.clear();
    screen = keyboard = true;
    show("b");
    QPointer<QWidget> first = controller->window();
    show("c");  // shown twice: one window, the latest completion
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(calls.empty());  // dropped without a close
    controller->view()->getStartedButton()->click();
    controller->view()->startButton()->click();
    EXPECT_TRUE(controller->isCompleted());
    EXPECT_FALSE(controller->window()->isVisible());
    controller->window()->close();  // after finishing, closing changes nothing
    EXPECT_EQ(calls, Calls{"done c"});
}

}  // namespace
