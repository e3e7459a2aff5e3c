// The texts that name shortcuts, on the real X server's keyboard layout: every place writes the
// same combination the same way, and writes it again when the layout changes.
#include "support/SettingsFixture.h"

#include "Features/MenuBar/MenuBarController.h"
#include "Features/Onboarding/OnboardingView.h"
#include "Features/Settings/ShortcutsSettingsContent.h"
#include "Features/Settings/VideoSettingsContent.h"
#include "packages/GlobalShortcuts/ApplicationShortcuts.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Recorder.h"
#include "platform/input/KeyboardLayout.h"
#include "support/WaitUntil.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProcess>

using namespace zentola;
using GlobalShortcuts::Name;

namespace {

QStringList labels(const QWidget& w) {
    QStringList out;
    for (const QLabel* l : w.findChildren<QLabel*>())
        out << l->text();
    return out;
}

class ShortcutTexts : public SettingsFixture {
protected:
    void SetUp() override {
        SettingsFixture::SetUp();
        GlobalShortcuts::setDefaultsStore(store.get());
        GlobalShortcuts::resetForTesting();
        for (const Name& name : {Name::openOverlay(), Name::instantCapture(), Name::quickRecord()})
            GlobalShortcuts::setShortcut(GlobalShortcuts::applicationDefault(name), name);
        QProcess query;
        query.start("setxkbmap", {"-query"});
        query.waitForFinished(5000);
        saved = QString::fromUtf8(query.readAllStandardOutput()).section("layout:", 1).section('\n', 0, 0).trimmed();
        QObject::connect(&platform::KeyboardLayoutChanges::instance(), &platform::KeyboardLayoutChanges::changed,
                         [this] { ++changes; });
    }
    void TearDown() override {
        QProcess::execute("setxkbmap", {"-layout", saved});
        GlobalShortcuts::resetForTesting();
        GlobalShortcuts::setDefaultsStore(nullptr);
    }
    // Puts the layout on the server and waits until the application has heard of it.
    void layout(const char* name) {
        const int before = changes;
        ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", name}), 0);
        ASSERT_TRUE(waitUntil([&] { return changes > before; })) << name;
    }

    QString saved;
    int changes = 0;
};

TEST_F(ShortcutTexts, EveryPlaceNamesTheShortcutAsTheLayoutInUseWritesItAndFollowsAChange) {
    MenuBarController::Environment env;
    env.recordingState = [] { return RecordingState::idle; };
    env.recordingDuration = [] { return 0.0; };
    env.isOverlayVisible = [] { return false; };
    env.hasScreenRecordingPermission = [] { return true; };
    env.showSettings = env.showAbout = [] {};
    env.observeRecordingState = [](QObject*, std::function<void(RecordingState)>) {};
    env.now = [] { return 0.0; };
    env.image = [](const QString&) { return std::nullopt; };
    env.isDarkAppearance = [](const QRect&) { return std::optional<bool>(false); };
    env.isDarkApplication = [] { return false; };
    env.isSystemTrayAvailable = [] { return false; };
    MenuBarController menuBar([] {}, [] {}, [] {}, [] {}, env);
    OnboardingView::Environment onboardingEnv;
    onboardingEnv.preflightScreenCapture = [] { return false; };
    onboardingEnv.isAccessibilityTrusted = onboardingEnv.hasMicrophonePermission = [] { return false; };
    onboardingEnv.openAccessibilitySettings = [] { return false; };
    OnboardingView onboarding([] {}, onboardingEnv);
    VideoSettingsContent video(*persistence, *permissions, [] { return 3; });
    ShortcutsSettingsContent shortcuts;

    struct Expected {
        const char* layout;
        QString six, seven, eight;
    };
    for (const Expected& e : {Expected{"us", "Ctrl+Shift+6", "Ctrl+Shift+7", "Ctrl+Shift+8"},
                              Expected{"fr", "Ctrl+Shift+-", "Ctrl+Shift+È", "Ctrl+Shift+_"},
                              Expected{"us", "Ctrl+Shift+6", "Ctrl+Shift+7", "Ctrl+Shift+8"}}) {
        layout(e.layout);
        settle();
        // The recorders, from the stored shortcuts.
        QStringList recorded;
        for (const GlobalShortcuts::Recorder* r : shortcuts.findChildren<GlobalShortcuts::Recorder*>())
            recorded << r->control()->text();
        EXPECT_EQ(recorded, (QStringList{e.six, e.seven, e.eight})) << e.layout;
        // The tray menu, built when it opens.
        menuBar.buildMenu();
        QAction* capture = menuBar.menu()->actions().value(2);
        ASSERT_TRUE(capture);
        EXPECT_EQ(capture->text(), "Capture Screen");
        EXPECT_EQ(capture->shortcut().toString(QKeySequence::NativeText), e.six) << e.layout;
        // The windows already shown write their texts again.
        const QStringList onboardingTexts = labels(onboarding);
        EXPECT_TRUE(onboardingTexts.contains("Fast, minimal screen capture.\nJust press " + e.six + " to capture."))
            << onboardingTexts.join(" | ").toStdString();
        EXPECT_TRUE(onboardingTexts.contains("Required for global shortcut " + e.six + "."))
            << onboardingTexts.join(" | ").toStdString();
        const QStringList videoTexts = labels(video);
        EXPECT_TRUE(videoTexts.contains("Only applies when starting from overlay. Quick record (" + e.eight +
                                        ") always starts immediately."))
            << videoTexts.join(" | ").toStdString();
        // The overlay's fixed keys name Linux keys whatever the layout.
        const QStringList shortcutTexts = labels(shortcuts);
        EXPECT_TRUE(shortcutTexts.contains("Alt + Drag")) << shortcutTexts.join(" | ").toStdString();
        EXPECT_TRUE(shortcutTexts.contains("Escape"));
    }
}

}  // namespace
