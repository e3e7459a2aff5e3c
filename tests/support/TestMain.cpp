#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Each test binary gets a QApplication and a private configuration home, so no test reads or
// writes the developer's own settings.
int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    // unit and ui tests must neither depend on nor disturb the X server and sound server that the
    // integration tests share.
    const QByteArray kind = qgetenv("ZENTOLA_TEST_KIND");
    if (kind == "unit" || kind == "ui") {
        qunsetenv("DISPLAY");
        qputenv("PULSE_SERVER", "unix:/nonexistent");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Tests registered again with the displays at given scales ("2,1": a test property holds no
    // ';', the toolkit's list separator).
    if (!qEnvironmentVariableIsEmpty("ZENTOLA_TEST_SCALES"))
        qputenv("QT_SCREEN_SCALE_FACTORS", qgetenv("ZENTOLA_TEST_SCALES").replace(',', ';'));
    // Without a display (test discovery, unit runs) the offscreen platform keeps Qt from aborting.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
