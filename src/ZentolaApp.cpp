#include "App/AppDelegate.h"
#include "App/AppState.h"
#include "Features/Capture/VideoRecordingManager.h"
#include "Features/Settings/SettingsWindowController.h"
#include "platform/core/Log.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/InstanceLock.h"
#include "resources/Bundle.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// SIGINT, SIGTERM and SIGHUP (the session ending) end the event loop normally, so clean-up (stopping
// a recording, releasing hot keys, writing the settings) runs as on a quit from the menu.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        app.quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

// The clean-up at the end, however the process ends.
QCoro::Task<void> finish(zentola::AppDelegate& delegate) {
    co_await delegate.applicationWillTerminate();
    // A stop already under way (from the menu, or the stream's own after an error) still gets its
    // movie finished.
    auto& recorder = zentola::VideoRecordingManager::shared();
    while (recorder.state() == zentola::RecordingState::stopping)
        co_await qCoro(&recorder, &zentola::VideoRecordingManager::stateChanged);
    platform::DefaultsStore::standard().flush();
}

zentola::AppDelegate* runningDelegate = nullptr;
bool finishing = false;
bool finished = false;

void startFinishing() {
    if (finishing || !runningDelegate)
        return;
    finishing = true;
    [](zentola::AppDelegate& delegate) -> QCoro::Task<void> {
        try {
            co_await finish(delegate);
        } catch (const std::exception& e) {
            platform::logLine(std::string("[Zentola] Finishing failed: ") + e.what());
        }
        finished = true;
    }(*runningDelegate);
}

QtMessageHandler qtHandler = nullptr;

// When the X connection breaks (the session ends, the server dies) Qt logs it and exits at once, from
// inside its event processing, which can no longer run. The clean-up runs here first, with what it
// waits for delivered by hand: the encoders and the stream report through posted events.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (qtHandler)
        qtHandler(type, context, message);
    if (!runningDelegate || !message.startsWith(QLatin1String("The X11 connection broke")))
        return;
    static bool once = false;
    if (std::exchange(once, true))
        return;
    platform::logLine("[Zentola] The display is gone; finishing before exit");
    startFinishing();
    // Long enough for an encoder to drain; a session manager ends a process that takes longer.
    const QDeadlineTimer deadline(60000);
    while (!finished && !deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents();
        QThread::msleep(5);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything else, so a second copy neither shows an icon nor touches the settings file.
    // One per display: a user logged in on two displays at once runs a copy on each.
    const QString display = platform::InstanceLock::displayKey(qgetenv("DISPLAY"));
    platform::InstanceLock instance(zentola::Bundle::identifier() + (display.isEmpty() ? QString() : '-' + display));
    if (!instance.isOwner()) {
        platform::logLine("[Zentola] Zentola is already running" +
                          (instance.holder() ? " (process " + std::to_string(instance.holder()) + ")" : std::string()) +
                          "; this launch ends");
        // Started again from the menu: the running copy comes forward, as desktop apps do. Without a
        // tray host this is the only way into its settings.
        instance.askHolder();
        return 0;
    }
    // The windows' class is "zentola" / "Zentola" (WM_CLASS), as the desktop entry's StartupWMClass
    // says, so a taskbar puts them under the entry and its icon whatever the program file is called.
    std::vector<char*> arguments(argv, argv + argc);
    static char nameOption[] = "-name", instanceName[] = "zentola";
    if (!arguments.empty() && qEnvironmentVariableIsEmpty("RESOURCE_NAME") &&
        std::none_of(arguments.begin(), arguments.end(), [](const char* a) { return std::strcmp(a, "-name") == 0; }))
        arguments.insert(arguments.begin() + 1, {nameOption, instanceName});
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    QApplication app(count, arguments.data());
    QApplication::setApplicationName("Zentola");
    QApplication::setDesktopFileName("com.zentola.Zentola");
    // The onboarding and settings windows carry the application's icon rather than a generic one.
    if (const auto icon = zentola::Bundle::imagePath(QStringLiteral("AppIcon")))
        QApplication::setWindowIcon(QIcon(*icon));
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);
    qtHandler = qInstallMessageHandler(onQtMessage);

    zentola::AppDelegate delegate(zentola::AppState::shared());
    runningDelegate = &delegate;
    instance.listen(&app, [] { zentola::SettingsWindowController::shared().show(); });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = app.exec();
    startFinishing();
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    runningDelegate = nullptr;
    return status;
}
