#include "App/AppDelegate.h"
#include "App/AppState.h"
#include "platform/core/Log.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/InstanceLock.h"
#include "resources/Bundle.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <csignal>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the event loop normally, so clean-up (stopping a recording, releasing
// hot keys, writing the settings) runs as on a quit from the menu.
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
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything else, so a second copy neither shows an icon nor touches the settings file.
    platform::InstanceLock instance(zentola::Bundle::identifier());
    if (!instance.isOwner()) {
        platform::logLine("[Zentola] Zentola is already running" +
                          (instance.holder() ? " (process " + std::to_string(instance.holder()) + ")" : std::string()) +
                          "; this launch ends");
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Zentola");
    QApplication::setDesktopFileName("com.zentola.Zentola");
    // The onboarding and settings windows carry the application's icon rather than a generic one.
    if (const auto icon = zentola::Bundle::imagePath(QStringLiteral("AppIcon")))
        QApplication::setWindowIcon(QIcon(*icon));
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    zentola::AppDelegate delegate(zentola::AppState::shared());
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = app.exec();
    QCoro::waitFor(delegate.applicationWillTerminate());
    platform::DefaultsStore::standard().flush();
    return status;
}
