#pragma once

#include "App/AppDelegate.h"
#include "App/AppState.h"
#include "Services/PersistenceManager.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"
#include "unit/GlobalShortcuts/FakeHotKeyCenter.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// A delegate over fakes, with a private defaults store and two displays: "A" (number 11, the main
// one) and "B" (22). What the delegate asks for lands in events, as text.
class DelegateFixture : public testing::Test {
protected:
    class FakeOverlay : public zentola::AppDelegate::Overlay {
    public:
        explicit FakeOverlay(DelegateFixture& f) : f_(f) {}
        void show() override { f_.events.push_back("overlay.show"), f_.overlayPanels = true; }
        void hide() override { f_.events.push_back("overlay.hide"), f_.overlayPanels = false; }
        bool hasPanels() const override { return f_.overlayPanels; }

    private:
        DelegateFixture& f_;
    };

    void SetUp() override {
        GlobalShortcuts::setDefaultsStore(&store);
        platform::HotKeyCenter::setShared(&center);
        GlobalShortcuts::resetForTesting();
        screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                              platform::FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 22)});
        delegate = std::make_unique<zentola::AppDelegate>(appState, environment());
    }
    void TearDown() override {
        delegate.reset();
        GlobalShortcuts::resetForTesting();
        platform::HotKeyCenter::setShared(nullptr);
        GlobalShortcuts::setDefaultsStore(nullptr);
    }

    // "capture window 4 on A", "record rect 10,20 300x200 on B".
    zentola::AppDelegate::CaptureCall call(const char* what) {
        return [this, what](zentola::CaptureMode m, std::optional<zentola::SelectionRect> r,
                            std::optional<zentola::WindowInfo> w, platform::ScreenRef s) -> QCoro::Task<void> {
            std::string e = std::string(what) + " " + m.rawValue().toStdString();
            if (w)
                e += " " + std::to_string(w->id);
            if (r)
                e += QString(" %1,%2 %3x%4").arg(r->origin.x()).arg(r->origin.y()).arg(r->size.width()).arg(r->size.height()).toStdString();
            events.push_back(e + " on " + s->name().toStdString());
            if (failure)
                std::rethrow_exception(failure);
            co_return;
        };
    }

    zentola::AppDelegate::Environment environment() {
        using namespace zentola;
        AppDelegate::Environment env;
        env.recordingState = [this] { return state; };
        env.stopRecording = [this]() -> QCoro::Task<std::optional<QUrl>> {
            events.push_back("recorder.stop");
            state = RecordingState::idle;
            co_return stopResult;
        };
        env.startRecording = call("record");
        env.performCaptureWorkflow = call("capture");
        env.windows = [this] { return events.push_back("windows"), windows; };
        env.checkScreenRecordingPermission = [this] { events.push_back("permission.check"); };
        env.hasScreenRecordingPermission = [this] { return screenPermission; };
        env.isAccessibilityTrusted = [this] { return accessibility; };
        env.isSecureEventInputEnabled = [this] { return secureInput; };
        env.defaults = [this]() -> platform::DefaultsStore& { return store; };
        env.savedRect = [this] { return persistence.savedRect(); };
        env.playSounds = [this] { return persistence.playSounds(); };
        env.playShutterSound = [this] { events.push_back("sound"); };
        env.defaultScreen = [] { return platform::Screen::main(); };
        env.showOnboarding = [this](std::function<void()> done) {
            events.push_back("onboarding");
            onboardingCompletion = std::move(done);
        };
        env.makeOverlay = [this](AppState&) -> std::unique_ptr<AppDelegate::Overlay> {
            events.push_back("overlay.make");
            return std::make_unique<FakeOverlay>(*this);
        };
        env.makeMenuBar = [this](auto capture, auto cancel, auto stop, auto quit) {
            events.push_back("menubar");
            menuCallbacks = {capture, cancel, stop, quit};
            return std::unique_ptr<MenuBarController>();
        };
        env.quit = [this] { events.push_back("quit"); };
        return env;
    }

    static zentola::WindowInfo window(quint32 id, std::optional<QString> owner, std::optional<QString> title) {
        return zentola::WindowInfo{id, title, owner, 1, QRectF(0, 0, 400, 300), 0, true};
    }

    // Runs the action and what it queued; the lines printed meanwhile.
    Lines run(const std::function<void()>& action) {
        testing::internal::CaptureStdout();
        action();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        Lines lines;
        const std::string out = testing::internal::GetCapturedStdout();
        for (size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(out.substr(start, nl - start));
        return lines;
    }

    QTemporaryDir dir;
    platform::DefaultsStore store{dir.filePath("defaults.json")};
    zentola::PersistenceManager persistence{store};
    zentola::AppState appState{persistence};
    FakeHotKeyCenter center;
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    std::unique_ptr<zentola::AppDelegate> delegate;

    zentola::RecordingState state = zentola::RecordingState::idle;
    std::optional<QUrl> stopResult;
    bool screenPermission = true, accessibility = true, secureInput = false, overlayPanels = false;
    std::exception_ptr failure;
    std::vector<zentola::WindowInfo> windows;
    std::vector<zentola::MenuBarController::Callback> menuCallbacks;
    std::function<void()> onboardingCompletion;
    std::vector<std::string> events;
};
