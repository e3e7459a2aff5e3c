// A recorder alone in a window, on the X server DISPLAY names: prints "recording" once it records,
// then the shortcut it stored as its record and its text, and ends.
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Recorder.h"
#include "platform/defaults/DefaultsStore.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir folder;
    platform::DefaultsStore store(folder.filePath("defaults.json"));
    GlobalShortcuts::setDefaultsStore(&store);
    QWidget window;
    auto* recorder = new GlobalShortcuts::Recorder(
        GlobalShortcuts::Name("recordedHere"),
        [&](const std::optional<GlobalShortcuts::Shortcut>& shortcut) {
            std::printf("%s %s\n", shortcut ? shortcut->encode().constData() : "none",
                        shortcut ? shortcut->description().toUtf8().constData() : "");
            std::fflush(stdout);
            QTimer::singleShot(0, &app, &QApplication::quit);
        },
        &window);
    window.show();
    window.activateWindow();
    bool announced = false;
    QTimer focus;
    QObject::connect(&focus, &QTimer::timeout, [&] {
        if (!recorder->control()->hasFocus())
            recorder->control()->setFocus();
        if (recorder->control()->isRecording() && !announced) {
            announced = true;
            std::printf("recording\n");
            std::fflush(stdout);
        }
    });
    focus.start(10);
    return app.exec();
}
