#include "platform/defaults/DefaultsStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Editors on Linux and Windows may save JSON with the bytes EF BB BF first.
TEST_F(DefaultsStoreTest, AFileWithAByteOrderMarkIsReadAsWhatItIsAndKeepsItsMark) {
    const QByteArray mark = "\xEF\xBB\xBF";
    const QByteArray file = mark + R"({"zentola.saveFormat": "JPEG", "other.tool": [1, 2]})" + "\n";
    writeFile(file);
    {
        DefaultsStore s(path(), 10ms);
        EXPECT_EQ(s.stringForKey("zentola.saveFormat"), QString("JPEG"));
        s.setBool("zentola.showFlash", false);
    }
    // The user's editor wrote the mark: the file keeps the form it was given.
    EXPECT_TRUE(readFile().startsWith(mark + "{")) << readFile().toStdString();
    const QByteArray written = readFile().mid(mark.size());
    EXPECT_TRUE(written.contains(R"("zentola.saveFormat": "JPEG")")) << written.toStdString();
    EXPECT_TRUE(written.contains(R"("other.tool": [1, 2])")) << written.toStdString();
    EXPECT_TRUE(written.contains(R"("zentola.showFlash": false)")) << written.toStdString();

    // The same when the mark comes in while this copy runs: what the editor saved is merged with.
    DefaultsStore running(path("later.json"), 10ms);
    writeFile(file, "later.json");
    running.setBool("zentola.playSounds", false);
    running.flush();
    EXPECT_TRUE(readFile("later.json").contains(R"("zentola.saveFormat": "JPEG")")) << readFile("later.json").toStdString();
    DefaultsStore again(path("later.json"));
    EXPECT_EQ(again.stringForKey("zentola.saveFormat"), QString("JPEG"));
    EXPECT_EQ(again.object("zentola.playSounds"), QVariant(false));
}

TEST_F(DefaultsStoreTest, AFileFoundUnreadableAtAWriteIsKeptAsideBeforeTheWrite) {
    writeFile("[1]");  // kept aside at the start, likely within the same second as the one below
    DefaultsStore s(path(), 10ms);
    s.setString("zentola.lastCaptureMode", "rect");
    s.flush();
    writeFile("{\"half\": ");  // an editor's save cut short
    const auto log = printedBy([&] {
        s.setBool("zentola.showFlash", false);
        s.flush();
    });
    QStringList aside = QDir(dir.path() + "/zentola").entryList({"defaults.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 2);
    QByteArrayList kept{readFile(aside[0]), readFile(aside[1])};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (QByteArrayList{"[1]", "{\"half\": "}));
    EXPECT_EQ(onDisk().value("zentola.lastCaptureMode"), QJsonValue("rect")) << readFile().toStdString();
    EXPECT_EQ(onDisk().value("zentola.showFlash"), QJsonValue(false)) << readFile().toStdString();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("kept as"), std::string::npos) << log[0];
}

namespace {

// Runs `action`; if it is still waiting after a while, opens the FIFO's other end so that it ends, and
// says so. A store that opened the FIFO would otherwise hang the test for good.
bool waitedOnFifo(const QString& fifo, const std::function<void()>& action) {
    std::promise<void> finished;
    bool rescued = false;
    std::thread watchdog([&, done = finished.get_future()] {
        while (done.wait_for(10s) == std::future_status::timeout) {
            rescued = true;
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    action();
    finished.set_value();
    watchdog.join();
    return rescued;
}

bool isFifo(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

}  // namespace

// A FIFO, a device or a folder at the settings path: the start never waits on it, and nothing
// moves or replaces it.
TEST_F(DefaultsStoreTest, APathThatIsNoRegularFileIsNeitherWaitedOnNorReplaced) {
    QDir().mkpath(dir.path() + "/zentola/folder.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.json")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", path("device.json")));  // would never end if read
    for (const QString name : {"fifo.json", "device.json", "folder.json"}) {
        SCOPED_TRACE(name.toStdString());
        std::vector<std::string> log;
        const bool rescued = waitedOnFifo(path("fifo.json"), [&] {
            log = printedBy([&] {
                DefaultsStore s(path(name), 10ms);
                EXPECT_TRUE(s.dictionaryRepresentation().isEmpty());
                s.setBool("zentola.showFlash", false);
                EXPECT_EQ(s.object("zentola.showFlash"), QVariant(false));  // this session still has it
                s.flush();
            });
        });
        EXPECT_FALSE(rescued);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0], "[Zentola] Settings file " + path(name).toStdString() +
                              " is not a regular file; starting with defaults and saving no settings");
    }
    EXPECT_TRUE(isFifo(path("fifo.json")));
    EXPECT_EQ(QFile::symLinkTarget(path("device.json")), "/dev/zero");
    EXPECT_TRUE(QFileInfo(path("folder.json")).isDir());
    EXPECT_EQ(QDir(dir.path() + "/zentola").entryList(QDir::Files | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot).size(), 3);

    // One that turns into a FIFO while the app runs is not waited on at the next write either.
    DefaultsStore s(path("becomes.json"), 10ms);
    s.setBool("zentola.playSounds", false);
    s.flush();
    ASSERT_TRUE(QFile::remove(path("becomes.json")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("becomes.json")).constData(), 0600), 0);
    std::vector<std::string> log;
    EXPECT_FALSE(waitedOnFifo(path("becomes.json"), [&] {
        log = printedBy([&] {
            s.setBool("zentola.playSounds", true);
            s.flush();
        });
    }));
    EXPECT_TRUE(isFifo(path("becomes.json")));
    EXPECT_EQ(log, std::vector<std::string>{"[Zentola] Settings file " + path("becomes.json").toStdString() +
                                            " is not a regular file; settings not saved"});

    // A link to a regular file (as dotfile managers make) is that file, read and written through.
    writeFile(R"({"zentola.saveFormat": "TIFF"})", "target.json");
    ASSERT_TRUE(QFile::link(path("target.json"), path("linked.json")));
    {
        DefaultsStore linked(path("linked.json"), 10ms);
        EXPECT_EQ(linked.stringForKey("zentola.saveFormat"), QString("TIFF"));
        linked.setString("zentola.saveFormat", "HEIC");
    }
    EXPECT_EQ(QFile::symLinkTarget(path("linked.json")), path("target.json"));
    EXPECT_TRUE(readFile("target.json").contains(R"("zentola.saveFormat": "HEIC")")) << readFile("target.json").toStdString();
}

// Copy B loaded "rect"; copy A stored "window" since; B's choice of "rect" must reach the file.
TEST_F(DefaultsStoreTest, ASetOrRemovalReachesTheFileWheneverTheFileHoldsSomethingElse) {
    writeFile(R"({"zentola.lastCaptureMode": "rect"})");
    DefaultsStore a(path(), 10ms);
    DefaultsStore b(path(), 10ms);
    a.setString("zentola.lastCaptureMode", "window");
    a.setData("zentola.savedRect", "{}");
    a.flush();
    b.setString("zentola.lastCaptureMode", "rect");
    b.remove("zentola.savedRect");  // a key this copy never had
    b.flush();
    EXPECT_EQ(onDisk().value("zentola.lastCaptureMode"), QJsonValue("rect")) << readFile().toStdString();
    EXPECT_FALSE(onDisk().contains("zentola.savedRect")) << readFile().toStdString();

    // What the file holds already is not written again.
    const QByteArray before = readFile();
    const auto inode = [&] {
        struct stat info {};
        return ::stat(QFile::encodeName(path()).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t file = inode();
    a.setString("zentola.lastCaptureMode", "rect");
    a.remove("zentola.savedRect");
    a.remove("never.there");
    a.flush();
    EXPECT_EQ(readFile(), before);
    EXPECT_EQ(inode(), file);  // not replaced by a copy of itself
}
