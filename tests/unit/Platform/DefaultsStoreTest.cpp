#include "platform/defaults/DefaultsStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

#include "support/Printed.h"

using platform::DefaultsStore;
using namespace std::chrono_literals;

namespace {

class DefaultsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name = "defaults.json") const { return dir.path() + "/zentola/" + name; }

    void writeFile(const QByteArray& bytes, const QString& name = "defaults.json") const {
        QDir().mkpath(dir.path() + "/zentola");
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readFile(const QString& name = "defaults.json") const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QJsonObject onDisk() const { return QJsonDocument::fromJson(readFile()).object(); }
};

}  // namespace

TEST_F(DefaultsStoreTest, TypesAndAbsenceSurviveAReopen_ValuesItDoesNotModelStayAsTheyWere) {
    const QByteArray file = R"({"other.tool": [1, {"a": null}], "nothing": null, "plain": {"x": 1},
        "n": 1.5e300, "blob": {"data": "AAE"}, "zentola.showFlash": false, "zentola.savedRect": [0]})";
    writeFile(file);
    {
        DefaultsStore s(path());
        EXPECT_FALSE(s.object("other.tool").has_value());  // read as absent
        EXPECT_EQ(s.object("zentola.showFlash"), QVariant(false));
        s.setInteger("zero", 0);
        s.setDouble("d", 2.5);
        s.setString("yes", "YES");
        s.setData("data", QByteArray("\x00\xff", 2));
        s.remove("zentola.savedRect");
    }
    DefaultsStore s(path());
    EXPECT_EQ(s.object("zero"), QVariant(qint64(0)));
    EXPECT_EQ(s.dataForKey("data"), QByteArray("\x00\xff", 2));
    // Typed reads convert as the desktop's store does.
    EXPECT_EQ(QStringList({s.stringForKey("d").value_or("-"), s.stringForKey("zentola.showFlash").value_or("-"),
                           QString::number(s.integerForKey("d")), QString::number(s.integerForKey("zentola.showFlash")),
                           QString::number(s.doubleForKey("yes")), s.boolForKey("yes") ? "yes" : "no",
                           s.boolForKey("zero") ? "yes" : "no", QString::fromUtf8(s.dataForKey("yes").value_or(""))}),
              (QStringList{"2.5", "0", "2", "0", "0", "yes", "no", "YES"}));
    EXPECT_FALSE(s.contains("zentola.savedRect"));
    QJsonObject expected = QJsonDocument::fromJson(file).object();
    expected.remove("zentola.savedRect");
    for (const char* key : {"zero", "d", "yes", "data"})
        expected.insert(key, onDisk().value(key));
    EXPECT_EQ(onDisk(), expected);
}

TEST_F(DefaultsStoreTest, AStormOfWritesIsReadAtOnceAndReachesTheFileLaterOnItsOwnThread) {
    DefaultsStore s(path(), 200ms);
    for (int i = 0; i <= 40; ++i)
        s.setInteger("zentola.savedRect", i);
    EXPECT_EQ(s.integerForKey("zentola.savedRect"), 40);
    EXPECT_FALSE(QFile::exists(path()));  // nothing written on the caller's thread
    // This thread runs no event loop meanwhile: the file comes from the store's own thread.
    QDeadlineTimer deadline(5000);
    while (onDisk().value("zentola.savedRect") != 40 && !deadline.hasExpired())
        QThread::msleep(10);
    EXPECT_EQ(onDisk().value("zentola.savedRect"), 40);

    DefaultsStore slow(path("slow.json"), 1h);
    slow.setBool("b", true);
    slow.flush();  // as at quit: written now, not an hour later
    EXPECT_EQ(readFile("slow.json").contains("\"b\": true"), true);
}

TEST_F(DefaultsStoreTest, AnUnreadableFileIsKeptAsideOrElseNeverWrittenOver) {
    writeFile("{ not json");
    // A name too long for an aside copy: the move fails, and that file must stay as it is.
    const QString longName = QString(240, 'a') + ".json";
    writeFile("[broken", longName);
    const auto log = printedBy([&] {
        for (const QString& name : {QString("defaults.json"), longName}) {
            DefaultsStore s(path(name));
            EXPECT_TRUE(s.dictionaryRepresentation().isEmpty());
            s.setString("x", "y");
        }
    });
    const QStringList aside = QDir(dir.path() + "/zentola").entryList({"defaults.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(aside.first()), QByteArray("{ not json"));
    EXPECT_EQ(onDisk().value("x"), "y");
    EXPECT_EQ(readFile(longName), QByteArray("[broken"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[1].find("could not be read nor moved aside"), std::string::npos) << log[1];
}

TEST_F(DefaultsStoreTest, WhatItDoesNotSetIsWrittenBackAsItWasRead) {
    // Numbers past a double's 53 bits, forms a rewrite would normalise, escapes, layout, key order.
    const QList<QByteArray> members = {R"("zentola.z": 12345678901234567890)", R"("exact": 9007199254740993)",
                                       R"("float": 1.10)", R"("negativeZero": -0.0)", R"("exp": 1E2)",
                                       R"("text": "caf\u00e9 \/")", R"("other.tool": [ 1,
            {"b": null, "a": 2.50} ])", R"("k\u0065y": true)"};
    const QByteArray original = "{\n  " + members.join(",\n  ") + "\n}\n";
    writeFile(original);
    {
        DefaultsStore s(path());
        EXPECT_EQ(s.integerForKey("exact"), 9007199254740993);
        EXPECT_EQ(s.stringForKey("text"), QString::fromUtf8("café /"));
        EXPECT_TRUE(s.boolForKey("key"));
        // Setting what is stored changes nothing.
        s.setDouble("zentola.z", s.doubleForKey("zentola.z"));
        s.setInteger("exact", 9007199254740993);
        s.flush();
        EXPECT_EQ(readFile(), original);
        s.setBool("zentola.new", true);
        s.setInteger("big", 9007199254740995);
    }
    const QByteArray written = readFile();
    qsizetype last = -1;
    for (const QByteArray& member : members) {
        const qsizetype at = written.indexOf(member);
        EXPECT_GT(at, last) << member.toStdString() << "\n" << written.toStdString();
        last = at;
    }
    EXPECT_TRUE(written.contains("\"big\": 9007199254740995")) << written.toStdString();
    DefaultsStore again(path());
    EXPECT_EQ(again.integerForKey("big"), 9007199254740995);
    EXPECT_TRUE(again.boolForKey("zentola.new"));
}

// One copy runs per X display, all over the same file: what one writes stays when another writes.
TEST_F(DefaultsStoreTest, TwoCopiesOverOneFileKeepEachOthersChanges) {
    writeFile(R"({"zentola.playSounds": true, "zentola.showFlash": true, "gone": 1})");
    DefaultsStore first(path(), 10ms);
    DefaultsStore second(path(), 10ms);

    first.setBool("zentola.showFlash", false);
    first.flush();
    second.setString("zentola.lastCaptureMode", "rect");
    second.remove("gone");
    second.flush();
    first.setBool("zentola.playSounds", false);
    first.flush();

    const QJsonObject file = onDisk();
    EXPECT_EQ(file.value("zentola.showFlash"), QJsonValue(false)) << readFile().toStdString();
    EXPECT_EQ(file.value("zentola.lastCaptureMode"), QJsonValue("rect")) << readFile().toStdString();
    EXPECT_EQ(file.value("zentola.playSounds"), QJsonValue(false)) << readFile().toStdString();
    EXPECT_FALSE(file.contains("gone")) << readFile().toStdString();

    // Writing at the same moment, neither copy replaces the file over the other's last change.
    QFile::remove(path());
    std::thread other([&] {
        for (int i = 0; i < 100; ++i) {
            second.setInteger(QStringLiteral("second.%1").arg(i), i);
            second.flush();
        }
    });
    for (int i = 0; i < 100; ++i) {
        first.setInteger(QStringLiteral("first.%1").arg(i), i);
        first.flush();
    }
    other.join();
    const QJsonObject both = onDisk();
    int missing = 0;
    for (int i = 0; i < 100; ++i)
        missing += !both.contains(QStringLiteral("first.%1").arg(i)) + !both.contains(QStringLiteral("second.%1").arg(i));
    EXPECT_EQ(missing, 0) << readFile().toStdString();

    // With no file left to merge with, a copy writes all it knows.
    QFile::remove(path());
    second.setBool("zentola.new", true);
    second.flush();
    EXPECT_EQ(onDisk().value("zentola.playSounds"), QJsonValue(true)) << readFile().toStdString();
    EXPECT_EQ(onDisk().value("zentola.new"), QJsonValue(true)) << readFile().toStdString();
}
