#include "Services/PersistenceManager.h"

#include "platform/defaults/DefaultsStore.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentola;
using PM = PersistenceManager;

namespace {

class PersistenceManagerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
};

TEST_F(PersistenceManagerTest, AFreshStoreReadsTheDefaultsAndWritesNothing) {
    EXPECT_TRUE(settings.playSounds() && settings.copyToClipboard() && settings.showFlash() && settings.recordAtRetina());
    EXPECT_DOUBLE_EQ(settings.jpegQuality(), 0.9);
    EXPECT_EQ(settings.recordingCountdown(), 3);
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::png);
    EXPECT_EQ(QStringList({settings.saveFormat().rawValue(), settings.videoContainer().rawValue(),
                           settings.videoCodec().rawValue(), settings.videoFrameRate().displayName(),
                           settings.audioOption().rawValue()}),
              (QStringList{"PNG", "MOV", "H.264", "30 fps", "None"}));
    EXPECT_FALSE(settings.lastCaptureMode() || settings.savedRect() || settings.controlBarPosition());
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    EXPECT_EQ(settings.screenshotFolderURL(), QUrl::fromLocalFile(pictures + "/Zentola"));
    EXPECT_EQ(settings.videoFolderURL(),
              QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + "/Zentola"));
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
}

TEST_F(PersistenceManagerTest, StoredValuesReadByTheirRules_TextThatIsNoRawValueReadsAsTheDefault) {
    store.setBool("zentola.showFlash", false);
    store.setDouble("zentola.jpegQuality", 0.0);
    EXPECT_FALSE(settings.showFlash());  // a stored false or 0 is honoured
    EXPECT_DOUBLE_EQ(settings.jpegQuality(), 0.0);
    for (const QVariant& notWhole : {QVariant("5"), QVariant(2.5), QVariant(1e30)}) {
        store.set("zentola.recordingCountdown", notWhole);
        EXPECT_EQ(settings.recordingCountdown(), 3);
    }
    for (auto [written, kept] : {std::pair{15, 10}, {-2, 0}, {7, 7}}) {
        settings.setRecordingCountdown(written);
        EXPECT_EQ(store.object("zentola.recordingCountdown"), QVariant(qint64(kept)));
    }
    for (auto [stored, rate] : {std::pair{45, PM::VideoFrameRate::fps30}, {60, PM::VideoFrameRate::fps60}}) {
        store.setInteger("zentola.videoFrameRate", stored);
        EXPECT_EQ(settings.videoFrameRate(), rate);
    }
    // Only exact raw values count; other text stays until the next write.
    for (auto [key, text] : {std::pair{"zentola.saveFormat", "jpeg"}, {"zentola.videoContainer", "mp4"},
                             {"zentola.videoCodec", "H264"}, {"zentola.videoAudioOption", "system audio"},
                             {"zentola.lastCaptureMode", "Window"}})
        store.setString(key, text);
    EXPECT_EQ(QStringList({settings.saveFormat().rawValue(), settings.videoContainer().rawValue(),
                           settings.videoCodec().rawValue(), settings.audioOption().rawValue()}),
              (QStringList{"PNG", "MOV", "H.264", "None"}));
    EXPECT_FALSE(settings.lastCaptureMode());
    EXPECT_EQ(store.stringForKey("zentola.saveFormat"), "jpeg");

    settings.setLastCaptureMode(CaptureMode::window);
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), "window");
    settings.setLastCaptureMode(std::nullopt);
    EXPECT_FALSE(store.contains("zentola.lastCaptureMode"));
}

TEST_F(PersistenceManagerTest, BlobsReadOnlyWhenTheyDecodeAndEmptyValuesRemoveTheirKeys) {
    const SelectionRect r{QPointF(120, 80), QSizeF(640, 360), 7};
    settings.setSavedRect(r);
    EXPECT_EQ(store.object("zentola.savedRect")->typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(*settings.savedRect() == r);
    settings.setSavedRect(SelectionRect{QPointF(qQNaN(), 0), QSizeF(1, 1), 1});  // JSON cannot carry it
    EXPECT_FALSE(store.contains("zentola.savedRect"));
    store.setData("zentola.savedRect", QByteArray("{\"origin\":[1,2]}"));
    EXPECT_FALSE(settings.savedRect());  // undecodable: none, and it stays
    EXPECT_TRUE(store.contains("zentola.savedRect"));

    settings.setControlBarPosition(QPointF(12.5, -40));
    EXPECT_EQ(store.dataForKey("zentola.controlBarPosition"), QByteArray("[12.5,-40]"));
    EXPECT_EQ(settings.controlBarPosition(), QPointF(12.5, -40));
    for (const char* bad : {"[1]", "[1,2,3]", "{\"x\":1,\"y\":2}", "[\"1\",2]", "nope"}) {
        store.setData("zentola.controlBarPosition", QByteArray(bad));
        EXPECT_FALSE(settings.controlBarPosition()) << bad;
    }
    settings.setControlBarPosition(std::nullopt);
    EXPECT_FALSE(store.contains("zentola.controlBarPosition"));

    settings.saveLastWindow(WindowInfo{1, QString("Report.txt"), QString("Editor"), 10, {}, 0, true});
    EXPECT_EQ(store.stringForKey("zentola.lastWindowTitle"), "Report.txt");
    settings.saveLastWindow(WindowInfo{3, QString(""), std::nullopt, 12, {}, 0, true});
    EXPECT_FALSE(store.contains("zentola.lastWindowOwnerName"));
    EXPECT_EQ(store.stringForKey("zentola.lastWindowTitle"), "");
}

TEST_F(PersistenceManagerTest, AFolderIsKeptWhileWritableAndForgottenOtherwise) {
    const QString chosen = dir.path() + "/shots";
    ASSERT_TRUE(QDir().mkpath(chosen));
    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(chosen));
    EXPECT_EQ(settings.screenshotFolderURL(), QUrl::fromLocalFile(chosen));
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    EXPECT_EQ(settings.screenshotFolderURL(), PM::defaultScreenshotFolder());
    EXPECT_FALSE(store.contains("zentola.screenshotFolderBookmark"));
    for (const QString& bad : {QString(""), QString("relative/folder"), dir.path() + "/defaults.json"}) {
        store.setString("zentola.videoFolderBookmark", bad);
        store.flush();  // the file exists
        EXPECT_EQ(settings.videoFolderURL(), PM::defaultVideoFolder()) << bad.toStdString();
        EXPECT_FALSE(store.contains("zentola.videoFolderBookmark"));
    }
}

TEST(SettingsEnumerations, FormatsCarryTheirExtensionsAndTypes) {
    QStringList formats;
    for (auto f : PM::ImageFormat::allCases())
        formats << f.rawValue() + " " + f.fileExtension() + " " + f.utiType();
    EXPECT_EQ(formats, (QStringList{"PNG png public.png", "JPEG jpg public.jpeg", "WebP webp org.webmproject.webp",
                                    "HEIC heic public.heic", "TIFF tiff public.tiff"}));
    EXPECT_EQ(PM::VideoContainer(PM::VideoContainer::mp4).fileExtension(), "mp4");
    EXPECT_EQ(PM::VideoFrameRate::fromRawValue(60), PM::VideoFrameRate::fps60);
    EXPECT_FALSE(PM::VideoFrameRate::fromRawValue(45));
}

}  // namespace
