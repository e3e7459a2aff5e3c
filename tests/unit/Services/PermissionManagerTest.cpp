#include "Services/PermissionManager.h"
#include "support/Printed.h"

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

const QString kDatabase = "/home/user/Library/Application Support/com.apple.TCC/TCC.db";
const QString kId = "com.zentola.Zentola";

// What the desktop answers; the programs run are recorded.
struct Desktop {
    bool preflight = false;
    std::optional<QString> bundleID = kId;
    bool databaseExists = true;
    QByteArray sqliteOutput;
    int sqliteExit = 0;
    int micStatus = 3;
    bool micAnswer = true;
};

struct PermissionManagerTest : testing::Test {
    Desktop desktop;
    QList<QStringList> runs;  // program followed by its arguments
    int micRequests = 0;

    PermissionManager::Environment environment() {
        return {[this] { return desktop.preflight; }, [this] { return desktop.bundleID; },
                [] { return QString("/home/user"); },
                [this](const QString& path) { return path == kDatabase && desktop.databaseExists; },
                [this](const QString& program, const QStringList& arguments) {
                    runs << (QStringList{program} + arguments);
                    const bool query = program.endsWith("sqlite3");
                    return platform::ProcessRunner::Result{true, query ? desktop.sqliteExit : 0,
                                                           query ? desktop.sqliteOutput : QByteArray()};
                },
                [this] { return desktop.micStatus; },
                [this]() -> QCoro::Task<bool> { ++micRequests; co_return desktop.micAnswer; }, [] {}};
    }
};

}  // namespace

// Only a count of one or more from the permission database is an entry; an entry while capture is
// refused resets the app's permissions.
TEST_F(PermissionManagerTest, ScreenRecordingCheckResetsOnlyForACountedEntry) {
    const std::pair<Desktop, int> cases[] = {
        {{true, kId, true, "1\n"}, 0},         {{false, kId, true, "1\n"}, 4},
        {{false, kId, true, " 12 "}, 4},        {{false, kId, true, "0\n"}, 1},
        {{false, kId, true, "-3\n"}, 1},       {{false, kId, true, "Error: unable to open database file\n"}, 1},
        {{false, kId, true, "1\n", 1}, 1},     {{false, kId, false, "1\n"}, 0},
        {{false, std::nullopt, true, "1\n"}, 0}, {{false, QString(), true, "1\n"}, 0}};
    const QStringList services{"ScreenCapture", "Microphone", "Accessibility"};
    const QString query = "    SELECT COUNT(*) FROM access \n    WHERE service='kTCCServiceScreenCapture' AND "
                          "client_type=0 AND client='com.zentola.Zentola'";
    for (const auto& [answers, count] : cases) {
        desktop = answers;
        runs.clear();
        CapturedStdout printed;
        const bool granted = PermissionManager(environment()).hasScreenRecordingPermission();
        EXPECT_EQ(printed.text(),
                  count == 4 ? "[PermissionManager] Signature mismatch detected, auto-resetting permissions for "
                               "clean onboarding\n"
                             : "");
        EXPECT_EQ(granted, desktop.preflight);
        ASSERT_EQ(runs.size(), count) << desktop.sqliteOutput.toStdString();
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(runs[i], (i == 0 ? QStringList{"/usr/bin/sqlite3", kDatabase, query}
                                       : QStringList{"/usr/bin/tccutil", "reset", services[i - 1], kId}));
        }
    }
    // A quote in an identifier stays inside its literal.
    EXPECT_EQ(PermissionManager::permissionQuery("x' OR '1'='1", "s"),
              "    SELECT COUNT(*) FROM access \n    WHERE service='s' AND client_type=0 AND "
              "client='x'' OR ''1''=''1'");
}

// Only an undetermined status asks, and the answer is published.
TEST_F(PermissionManagerTest, MicrophoneRequestFollowsTheStatus) {
    const struct { int status; bool answer, result; } cases[] = {
        {0, true, true}, {0, false, false}, {3, false, true}, {1, true, false}, {2, true, false}, {9, true, false}};
    PermissionManager manager(environment());
    QList<bool> published;
    QObject::connect(&manager, &PermissionManager::hasMicrophonePermissionChanged, [&](bool v) { published << v; });
    for (const auto& c : cases) {
        std::tie(desktop.micStatus, desktop.micAnswer) = std::tie(c.status, c.answer);
        EXPECT_EQ(QCoro::waitFor(manager.requestMicrophonePermission()), c.result);
        EXPECT_EQ(manager.hasMicrophonePermission(), c.result);
    }
    EXPECT_EQ(micRequests, 2);
    EXPECT_EQ(published, (QList<bool>{false, true, false}));
}
