// Records the main display until it is killed: the movie it leaves must still play.
#include "RecorderHarness.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    RecorderHarness recorder(QString::fromLocal8Bit(argv[1]));
    recorder.settings().setVideoContainer(zentola::PersistenceManager::VideoContainer::mp4);
    recorder.settings().setAudioOption(zentola::PersistenceManager::AudioOption::systemAudio);
    QTimer::singleShot(0, [&] {
        if (!recorder.start(zentola::CaptureMode::screen)) {
            std::fprintf(stderr, "start failed: %s\n", qPrintable(recorder.error()));
            QApplication::exit(1);
        }
    });
    return app.exec();
}
