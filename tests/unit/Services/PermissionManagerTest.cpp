#include "Services/PermissionManager.h"

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

struct PermissionManagerTest : testing::Test {
    bool preflight = false;
    std::optional<QString> bundleID = QString("com.zentola.Zentola");
    bool databaseExists = true;
    QByteArray sqliteOutput = "0\n";
    int sqliteExit = 0;
    QList<QStringList> runs;  // program followed by its arguments
    int micStatus = 3;
    bool micAnswer = true;
    int micRequests = 0;

    PermissionManager::Environment environment() {
        return PermissionManager::Environment{
            [this] { return preflight; },
            [this] { return bundleID; },
            [] { return QString("/home/user"); },
            [this](const QString& path) {
                EXPECT_EQ(path, "/home/user/Library/Application Support/com.apple.TCC/TCC.db");
                return databaseExists;
            },
            [this](const QString& program, const QStringList& arguments) {
                runs << (QStringList{program} + arguments);
                platform::ProcessRunner::Result r;
                r.started = true;
                r.exitCode = program.endsWith("sqlite3") ? sqliteExit : 0;
                r.output = program.endsWith("sqlite3") ? sqliteOutput : QByteArray();
                return r;
            },
            [this] { return micStatus; },
            [this]() -> QCoro::Task<bool> {
                ++micRequests;
                co_return micAnswer;
            },
            [] {},
        };
    }

    QStringList programs() const {
        QStringList out;
        for (const auto& r : runs)
            out << r.first();
        return out;
    }
};

}  // namespace

TEST_F(PermissionManagerTest, GrantedPreflightRunsNoProgram) {
    preflight = true;
    PermissionManager manager(environment());
    EXPECT_TRUE(manager.hasScreenRecordingPermission());
    EXPECT_TRUE(runs.isEmpty());
}

TEST_F(PermissionManagerTest, CountOfOneResetsThreeServicesInOrder) {
    sqliteOutput = "1\n";
    testing::internal::CaptureStdout();
    PermissionManager manager(environment());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(manager.hasScreenRecordingPermission());
    EXPECT_EQ(out, "[PermissionManager] Signature mismatch detected, auto-resetting permissions for clean onboarding\n");
    ASSERT_EQ(runs.size(), 4);
    EXPECT_EQ(runs[0], (QStringList{"/usr/bin/sqlite3", "/home/user/Library/Application Support/com.apple.TCC/TCC.db",
                                    PermissionManager::permissionQuery("com.zentola.Zentola", "kTCCServiceScreenCapture")}));
    EXPECT_EQ(runs[1], (QStringList{"/usr/bin/tccutil", "reset", "ScreenCapture", "com.zentola.Zentola"}));
    EXPECT_EQ(runs[2], (QStringList{"/usr/bin/tccutil", "reset", "Microphone", "com.zentola.Zentola"}));
    EXPECT_EQ(runs[3], (QStringList{"/usr/bin/tccutil", "reset", "Accessibility", "com.zentola.Zentola"}));
}

TEST_F(PermissionManagerTest, OnlyACountOfOneOrMoreIsAnEntry) {
    struct Case {
        QByteArray output;
        int exit;
        bool entry;
    };
    const Case cases[] = {
        {"0\n", 0, false},
        {"", 0, false},
        {"  \n", 0, false},
        {"Error: in prepare, no such table: access\n", 1, false},
        {"Error: unable to open database file\n", 0, false},
        {"1\n", 1, false},
        {"12\n", 0, true},
        {" 1 ", 0, true},
        {"-3\n", 0, false},
    };
    PermissionManager manager(environment());
    for (const Case& c : cases) {
        sqliteOutput = c.output;
        sqliteExit = c.exit;
        EXPECT_EQ(manager.hasTCCEntry("com.zentola.Zentola", "kTCCServiceScreenCapture"), c.entry)
            << c.output.toStdString();
    }
}

TEST_F(PermissionManagerTest, NoDatabaseOrNoIdentifierAsksNothing) {
    databaseExists = false;
    sqliteOutput = "1\n";
    PermissionManager without(environment());
    EXPECT_FALSE(without.hasScreenRecordingPermission());
    EXPECT_TRUE(runs.isEmpty());

    databaseExists = true;
    bundleID.reset();
    PermissionManager anonymous(environment());
    EXPECT_TRUE(runs.isEmpty());
}

TEST(PermissionQueryTest, QuotesTheValuesAsLiterals) {
    EXPECT_EQ(PermissionManager::permissionQuery("com.zentola.Zentola", "kTCCServiceScreenCapture"),
              "    SELECT COUNT(*) FROM access \n    WHERE service='kTCCServiceScreenCapture' AND client_type=0 AND "
              "client='com.zentola.Zentola'");
    // A quote in an identifier stays inside its literal.
    EXPECT_EQ(PermissionManager::permissionQuery("x' OR '1'='1", "s"),
              "    SELECT COUNT(*) FROM access \n    WHERE service='s' AND client_type=0 AND client='x'' OR ''1''=''1'");
}

TEST_F(PermissionManagerTest, MicrophoneRequestFollowsTheStatus) {
    struct Case {
        int status;
        std::string line;
        bool result;
    };
    const Case cases[] = {
        {1, "[Zentola] Microphone access restricted\n", false},
        {2, "[Zentola] Microphone access denied - user needs to enable in System Settings\n", false},
        {3, "[Zentola] Microphone already authorized\n", true},
        {9, "[Zentola] Microphone unknown status\n", false},
    };
    PermissionManager manager(environment());
    for (const Case& c : cases) {
        micStatus = c.status;
        testing::internal::CaptureStdout();
        const bool result = QCoro::waitFor(manager.requestMicrophonePermission());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(manager.hasMicrophonePermission(), c.result);
        EXPECT_EQ(out, "[Zentola] Microphone authorization status: " + std::to_string(c.status) +
                           " (0=notDetermined, 1=restricted, 2=denied, 3=authorized)\n" + c.line);
    }
    EXPECT_EQ(micRequests, 0);
}

TEST_F(PermissionManagerTest, UndeterminedMicrophoneAsksAndPublishesTheAnswer) {
    micStatus = 0;
    PermissionManager manager(environment());
    EXPECT_FALSE(manager.hasMicrophonePermission());
    int changed = 0;
    QObject::connect(&manager, &PermissionManager::hasMicrophonePermissionChanged, [&](bool) { ++changed; });
    testing::internal::CaptureStdout();
    EXPECT_TRUE(QCoro::waitFor(manager.requestMicrophonePermission()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(micRequests, 1);
    EXPECT_TRUE(manager.hasMicrophonePermission());
    EXPECT_EQ(changed, 1);
    EXPECT_NE(out.find("[Zentola] Microphone not determined, requesting access...\n"
                       "[Zentola] Microphone access request result: true\n"),
              std::string::npos);

    micAnswer = false;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(QCoro::waitFor(manager.requestMicrophonePermission()));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("request result: false\n"), std::string::npos);
    EXPECT_FALSE(manager.hasMicrophonePermission());
}
