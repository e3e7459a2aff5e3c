#pragma once

#include "App/AppDelegate.h"
#include "App/AppState.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"
#include "unit/GlobalShortcuts/FakeHotKeyCenter.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A delegate over fakes: a recorder, a capture workflow, a window list, an overlay, onboarding and
// two displays (numbers 11, the main one, and 22), with a private defaults store.
class DelegateFixture : public testing::Test {
protected:
    struct Call {
        zentola::CaptureMode mode;
        std::optional<zentola::SelectionRect> rect;
        std::optional<zentola::WindowInfo> window;
        platform::ScreenRef screen;
    };

    class FakeOverlay : public zentola::AppDelegate::Overlay {
    public:
        explicit FakeOverlay(DelegateFixture& f) : f_(f) {}
        void show() override {
            f_.events.push_back("overlay.show");
            f_.overlayPanels = true;
        }
        void hide() override {
            f_.events.push_back("overlay.hide");
            f_.overlayPanels = false;
        }
        bool hasPanels() const override { return f_.overlayPanels; }

    private:
        DelegateFixture& f_;
    };

    void SetUp() override {
        store = std::make_unique<platform::DefaultsStore>(dir.filePath("defaults.json"));
        persistence = std::make_unique<zentola::PersistenceManager>(*store);
        appState = std::make_unique<zentola::AppState>(*persistence);
        GlobalShortcuts::setDefaultsStore(store.get());
        platform::HotKeyCenter::setShared(&center);
        GlobalShortcuts::resetForTesting();
        screens->setDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                              platform::FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 22)});
        delegate = std::make_unique<zentola::AppDelegate>(*appState, environment());
    }

    void TearDown() override {
        delegate.reset();
        GlobalShortcuts::resetForTesting();
        platform::HotKeyCenter::setShared(nullptr);
        GlobalShortcuts::setDefaultsStore(nullptr);
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
        env.startRecording = [this](CaptureMode m, std::optional<SelectionRect> r, std::optional<WindowInfo> w,
                                    platform::ScreenRef s) -> QCoro::Task<void> {
            recordings.push_back({m, r, w, s});
            if (failure)
                std::rethrow_exception(failure);
            co_return;
        };
        env.performCaptureWorkflow = [this](CaptureMode m, std::optional<SelectionRect> r,
                                            std::optional<WindowInfo> w, platform::ScreenRef s) -> QCoro::Task<void> {
            captures.push_back({m, r, w, s});
            if (failure)
                std::rethrow_exception(failure);
            co_return;
        };
        env.windows = [this] {
            ++windowFetches;
            return windows;
        };
        env.checkScreenRecordingPermission = [this] { events.push_back("permission.check"); };
        env.hasScreenRecordingPermission = [this] { return screenPermission; };
        env.isAccessibilityTrusted = [this] { return accessibility; };
        env.isSecureEventInputEnabled = [this] { return secureInput; };
        env.defaults = [this]() -> platform::DefaultsStore& { return *store; };
        env.savedRect = [this] { return persistence->savedRect(); };
        env.playSounds = [this] { return persistence->playSounds(); };
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
            ++menuBars;
            menuCallbacks = {capture, cancel, stop, quit};
            return std::unique_ptr<MenuBarController>();
        };
        env.quit = [this] { events.push_back("quit"); };
        return env;
    }

    static zentola::WindowInfo window(quint32 id, std::optional<QString> owner, std::optional<QString> title) {
        zentola::WindowInfo w;
        w.id = id;
        w.ownerName = owner;
        w.title = title;
        w.frame = QRectF(0, 0, 400, 300);
        w.isOnScreen = true;
        return w;
    }

    // Runs what the triggers queued, and returns the lines printed meanwhile.
    std::vector<std::string> run(const std::function<void()>& action) {
        testing::internal::CaptureStdout();
        action();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        std::vector<std::string> lines;
        std::string out = testing::internal::GetCapturedStdout();
        size_t start = 0;
        for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(out.substr(start, nl - start));
        return lines;
    }

    platform::ScreenRef screen(int index) const { return platform::Screen::screens().at(index); }

    QTemporaryDir dir;
    std::unique_ptr<platform::DefaultsStore> store;
    std::unique_ptr<zentola::PersistenceManager> persistence;
    std::unique_ptr<zentola::AppState> appState;
    FakeHotKeyCenter center;
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    std::unique_ptr<zentola::AppDelegate> delegate;

    zentola::RecordingState state = zentola::RecordingState::idle;
    std::optional<QUrl> stopResult;
    bool screenPermission = true;
    bool accessibility = true;
    bool secureInput = false;
    bool overlayPanels = false;
    std::exception_ptr failure;
    std::vector<zentola::WindowInfo> windows;
    int windowFetches = 0;
    int menuBars = 0;
    std::vector<zentola::MenuBarController::Callback> menuCallbacks;
    std::function<void()> onboardingCompletion;
    std::vector<std::string> events;
    std::vector<Call> captures;
    std::vector<Call> recordings;
};
