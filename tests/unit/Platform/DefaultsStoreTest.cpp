#include "platform/defaults/DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::DefaultsStore;

namespace {

class DefaultsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + "/zentola/defaults.json"; }
};

}  // namespace

TEST_F(DefaultsStoreTest, TellsAbsentFromStoredFalseAndZeroAcrossReloads) {
    {
        DefaultsStore s(path());
        EXPECT_FALSE(s.object("k").has_value());
        s.setBool("flag", false);
        s.setInteger("zero", 0);
        s.setDouble("q", 0.75);
        s.setString("text", "hello");
        s.setData("blob", QByteArray("\x00\x01\xff", 3));
    }
    DefaultsStore s(path());
    ASSERT_TRUE(s.object("flag").has_value());
    EXPECT_FALSE(s.boolForKey("flag"));
    ASSERT_TRUE(s.object("zero").has_value());
    EXPECT_EQ(s.integerForKey("zero"), 0);
    EXPECT_DOUBLE_EQ(s.doubleForKey("q"), 0.75);
    EXPECT_EQ(s.stringForKey("text").value(), "hello");
    EXPECT_EQ(s.dataForKey("blob").value(), QByteArray("\x00\x01\xff", 3));
    EXPECT_FALSE(s.object("missing").has_value());
    EXPECT_EQ(s.dictionaryRepresentation().size(), 5);
}

TEST_F(DefaultsStoreTest, TypedReadsConvertAsTheDesktopStoreDoes) {
    DefaultsStore s(path());
    s.setInteger("n", 42);
    s.setBool("t", true);
    s.setDouble("d", 2.5);
    s.setString("yes", "YES");
    s.setString("num", "12");
    EXPECT_EQ(s.stringForKey("n").value(), "42");
    EXPECT_EQ(s.stringForKey("t").value(), "1");
    EXPECT_EQ(s.stringForKey("d").value(), "2.5");
    EXPECT_TRUE(s.boolForKey("yes"));
    EXPECT_TRUE(s.boolForKey("n"));
    EXPECT_EQ(s.integerForKey("num"), 12);
    EXPECT_EQ(s.integerForKey("d"), 2);
    EXPECT_EQ(s.integerForKey("t"), 1);
    EXPECT_FALSE(s.dataForKey("n").has_value());
    EXPECT_FALSE(s.stringForKey("absent").has_value());
}

TEST_F(DefaultsStoreTest, RemoveAndInvalidValueDeleteTheKeyOnDisk) {
    {
        DefaultsStore s(path());
        s.setString("a", "1");
        s.setString("b", "2");
        s.remove("a");
        s.set("b", QVariant());
    }
    DefaultsStore s(path());
    EXPECT_TRUE(s.dictionaryRepresentation().isEmpty());
}

TEST_F(DefaultsStoreTest, CorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
    QDir().mkpath(dir.path() + "/zentola");
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{ not json");
    f.close();

    DefaultsStore s(path());
    EXPECT_TRUE(s.dictionaryRepresentation().isEmpty());
    QStringList aside = QDir(dir.path() + "/zentola").entryList({"defaults.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.path() + "/zentola/" + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{ not json"));

    s.setString("x", "y");  // writing now must not touch the kept copy
    EXPECT_TRUE(QFile::exists(dir.path() + "/zentola/" + aside.first()));
}
