#include "Services/PersistenceManager.h"

#include "platform/defaults/DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentola;
using PM = PersistenceManager;

namespace {

// Each case gets its own store file, so nothing leaks between cases.
class PersistenceManagerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};

    bool stored(const QString& key) const { return store.object(key).has_value(); }
};

}  // namespace

TEST_F(PersistenceManagerTest, FreshStoreReadsTheDefaults) {
    EXPECT_TRUE(settings.playSounds());
    EXPECT_TRUE(settings.copyToClipboard());
    EXPECT_TRUE(settings.showFlash());
    EXPECT_TRUE(settings.recordAtRetina());
    EXPECT_DOUBLE_EQ(settings.jpegQuality(), 0.9);
    EXPECT_EQ(settings.recordingCountdown(), 3);
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::png);
    EXPECT_EQ(settings.videoContainer(), PM::VideoContainer::mov);
    EXPECT_EQ(settings.videoCodec(), PM::VideoCodec::h264);
    EXPECT_EQ(settings.videoFrameRate(), PM::VideoFrameRate::fps30);
    EXPECT_EQ(settings.audioOption(), PM::AudioOption::none);
    EXPECT_FALSE(settings.lastCaptureMode().has_value());
    EXPECT_FALSE(settings.savedRect().has_value());
    EXPECT_FALSE(settings.controlBarPosition().has_value());
    EXPECT_EQ(settings.screenshotFolderURL(), PM::defaultScreenshotFolder());
    EXPECT_EQ(settings.videoFolderURL(), PM::defaultVideoFolder());
    // Reading writes nothing.
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
}

TEST_F(PersistenceManagerTest, StoredFalseAndZeroAreHonoured) {
    store.setBool("zentola.showFlash", false);
    store.setBool("zentola.playSounds", false);
    store.setDouble("zentola.jpegQuality", 0.0);
    EXPECT_FALSE(settings.showFlash());
    EXPECT_FALSE(settings.playSounds());
    EXPECT_TRUE(settings.copyToClipboard());
    EXPECT_DOUBLE_EQ(settings.jpegQuality(), 0.0);

    settings.setCopyToClipboard(false);
    settings.setRecordAtRetina(false);
    settings.setJpegQuality(0.35);
    EXPECT_EQ(store.object("zentola.copyToClipboard"), QVariant(false));
    EXPECT_EQ(store.object("zentola.recordAtRetina"), QVariant(false));
    EXPECT_FALSE(settings.recordAtRetina());
    EXPECT_DOUBLE_EQ(settings.jpegQuality(), 0.35);
    // Every setter writes at once, so a second store over the same file sees it.
    store.flush();
    platform::DefaultsStore reread(store.filePath());
    EXPECT_FALSE(PersistenceManager(reread).copyToClipboard());
}

TEST_F(PersistenceManagerTest, CountdownReadsWholeNumbersOnlyAndWritesClamped) {
    store.setString("zentola.recordingCountdown", "5");
    EXPECT_EQ(settings.recordingCountdown(), 3);
    store.setDouble("zentola.recordingCountdown", 2.5);
    EXPECT_EQ(settings.recordingCountdown(), 3);
    store.setBool("zentola.recordingCountdown", true);
    EXPECT_EQ(settings.recordingCountdown(), 3);
    store.setDouble("zentola.recordingCountdown", 1e30);
    EXPECT_EQ(settings.recordingCountdown(), 3);
    store.setInteger("zentola.recordingCountdown", 0);
    EXPECT_EQ(settings.recordingCountdown(), 0);

    settings.setRecordingCountdown(15);
    EXPECT_EQ(store.object("zentola.recordingCountdown"), QVariant(qint64(10)));
    settings.setRecordingCountdown(-2);
    EXPECT_EQ(store.object("zentola.recordingCountdown"), QVariant(qint64(0)));
    settings.setRecordingCountdown(7);
    EXPECT_EQ(settings.recordingCountdown(), 7);
}

TEST_F(PersistenceManagerTest, FrameRateIsSixtyOnlyForExactlySixty) {
    store.setInteger("zentola.videoFrameRate", 45);
    EXPECT_EQ(settings.videoFrameRate(), PM::VideoFrameRate::fps30);
    store.setInteger("zentola.videoFrameRate", 60);
    EXPECT_EQ(settings.videoFrameRate(), PM::VideoFrameRate::fps60);
    store.setString("zentola.videoFrameRate", "sixty");
    EXPECT_EQ(settings.videoFrameRate(), PM::VideoFrameRate::fps30);

    settings.setVideoFrameRate(PM::VideoFrameRate::fps60);
    EXPECT_EQ(store.object("zentola.videoFrameRate"), QVariant(qint64(60)));
    settings.setVideoFrameRate(PM::VideoFrameRate::fps30);
    EXPECT_EQ(store.object("zentola.videoFrameRate"), QVariant(qint64(30)));
}

TEST_F(PersistenceManagerTest, EnumerationKeysReadOnlyExactRawValuesAndKeepUnknownText) {
    store.setString("zentola.saveFormat", "png");
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::png);
    store.setString("zentola.saveFormat", "jpeg");
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::png);
    // Unknown text stays until the next write.
    EXPECT_EQ(store.stringForKey("zentola.saveFormat"), QString("jpeg"));
    store.setString("zentola.saveFormat", "HEIC");
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::heic);

    store.setString("zentola.videoContainer", "mp4");
    EXPECT_EQ(settings.videoContainer(), PM::VideoContainer::mov);
    store.setString("zentola.videoCodec", "H264");
    EXPECT_EQ(settings.videoCodec(), PM::VideoCodec::h264);
    store.setString("zentola.videoAudioOption", "system audio");
    EXPECT_EQ(settings.audioOption(), PM::AudioOption::none);

    settings.setSaveFormat(PM::ImageFormat::webp);
    settings.setVideoContainer(PM::VideoContainer::mp4);
    settings.setVideoCodec(PM::VideoCodec::hevc);
    settings.setAudioOption(PM::AudioOption::systemAudio);
    EXPECT_EQ(store.stringForKey("zentola.saveFormat"), QString("WebP"));
    EXPECT_EQ(store.stringForKey("zentola.videoContainer"), QString("MP4"));
    EXPECT_EQ(store.stringForKey("zentola.videoCodec"), QString("HEVC"));
    EXPECT_EQ(store.stringForKey("zentola.videoAudioOption"), QString("System Audio"));
    EXPECT_EQ(settings.saveFormat(), PM::ImageFormat::webp);
    EXPECT_EQ(settings.videoContainer(), PM::VideoContainer::mp4);
    EXPECT_EQ(settings.videoCodec(), PM::VideoCodec::hevc);
    EXPECT_EQ(settings.audioOption(), PM::AudioOption::systemAudio);
}

TEST_F(PersistenceManagerTest, LastCaptureModeRoundTripAndRejectsOtherText) {
    store.setString("zentola.lastCaptureMode", "Window");
    EXPECT_FALSE(settings.lastCaptureMode().has_value());
    settings.setLastCaptureMode(CaptureMode::window);
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("window"));
    EXPECT_EQ(settings.lastCaptureMode(), CaptureMode::window);
    settings.setLastCaptureMode(std::nullopt);
    EXPECT_FALSE(stored("zentola.lastCaptureMode"));
}

TEST_F(PersistenceManagerTest, SavedRectBlobRules) {
    const SelectionRect r{QPointF(120, 80), QSizeF(640, 360), 7};
    settings.setSavedRect(r);
    ASSERT_TRUE(store.object("zentola.savedRect").has_value());
    EXPECT_EQ(store.object("zentola.savedRect")->typeId(), QMetaType::QByteArray);
    ASSERT_TRUE(settings.savedRect().has_value());
    EXPECT_TRUE(*settings.savedRect() == r);

    settings.setSavedRect(std::nullopt);
    EXPECT_FALSE(stored("zentola.savedRect"));

    // An undecodable blob reads as none and stays until the next write.
    store.setData("zentola.savedRect", QByteArray("{\"origin\":[1,2]}"));
    EXPECT_FALSE(settings.savedRect().has_value());
    EXPECT_TRUE(stored("zentola.savedRect"));
    store.setData("zentola.savedRect", QByteArray("\xff\x00garbage", 9));
    EXPECT_FALSE(settings.savedRect().has_value());

    // A rectangle that JSON cannot carry clears the key instead of storing something unreadable.
    settings.setSavedRect(r);
    settings.setSavedRect(SelectionRect{QPointF(qQNaN(), 0), QSizeF(1, 1), 1});
    EXPECT_FALSE(stored("zentola.savedRect"));
}

TEST_F(PersistenceManagerTest, ControlBarPositionBlobRules) {
    settings.setControlBarPosition(QPointF(12.5, -40));
    EXPECT_EQ(store.dataForKey("zentola.controlBarPosition"), QByteArray("[12.5,-40]"));
    EXPECT_EQ(settings.controlBarPosition(), QPointF(12.5, -40));

    for (const char* bad : {"[1]", "[1,2,3]", "{\"x\":1,\"y\":2}", "[\"1\",2]", "nope"}) {
        store.setData("zentola.controlBarPosition", QByteArray(bad));
        EXPECT_FALSE(settings.controlBarPosition().has_value()) << bad;
    }
    settings.setControlBarPosition(std::nullopt);
    EXPECT_FALSE(stored("zentola.controlBarPosition"));
}

TEST_F(PersistenceManagerTest, SaveLastWindowStoresOrRemovesEachText) {
    settings.saveLastWindow(WindowInfo{1, QString("Report.txt"), QString("Editor"), 10, {}, 0, true});
    EXPECT_EQ(store.stringForKey("zentola.lastWindowOwnerName"), QString("Editor"));
    EXPECT_EQ(store.stringForKey("zentola.lastWindowTitle"), QString("Report.txt"));

    settings.saveLastWindow(WindowInfo{2, std::nullopt, QString("Terminal"), 11, {}, 0, true});
    EXPECT_EQ(store.stringForKey("zentola.lastWindowOwnerName"), QString("Terminal"));
    EXPECT_FALSE(stored("zentola.lastWindowTitle"));

    settings.saveLastWindow(WindowInfo{3, QString(""), std::nullopt, 12, {}, 0, true});
    EXPECT_FALSE(stored("zentola.lastWindowOwnerName"));
    EXPECT_EQ(store.stringForKey("zentola.lastWindowTitle"), QString(""));
}

TEST_F(PersistenceManagerTest, FolderRuleKeepsWritableDirectoriesAndForgetsOthers) {
    const QString chosen = dir.path() + "/shots";
    ASSERT_TRUE(QDir().mkpath(chosen));
    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(chosen));
    EXPECT_EQ(store.stringForKey("zentola.screenshotFolderBookmark"), chosen);
    EXPECT_EQ(settings.screenshotFolderURL(), QUrl::fromLocalFile(chosen));

    // The folder vanishes: the next read forgets it and gives the default.
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    EXPECT_EQ(settings.screenshotFolderURL(), PM::defaultScreenshotFolder());
    EXPECT_FALSE(stored("zentola.screenshotFolderBookmark"));

    // Texts that do not name a writable directory are forgotten as well.
    QFile file(dir.path() + "/plain-file");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const QString& bad : {QString(""), QString("relative/folder"), file.fileName()}) {
        store.setString("zentola.videoFolderBookmark", bad);
        EXPECT_EQ(settings.videoFolderURL(), PM::defaultVideoFolder()) << bad.toStdString();
        EXPECT_FALSE(stored("zentola.videoFolderBookmark"));
    }
    settings.saveVideoFolderAccess(QUrl::fromLocalFile(dir.path()));
    EXPECT_EQ(settings.videoFolderURL(), QUrl::fromLocalFile(dir.path()));
}

TEST(PersistenceDefaultsTest, DefaultFoldersAreTheUserPicturesAndVideosPlusZentola) {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + "/Zentola";
    const bool existedBefore = QFileInfo::exists(videos);
    EXPECT_EQ(PM::defaultVideoFolder(), QUrl::fromLocalFile(videos));
    EXPECT_EQ(PM::defaultScreenshotFolder(),
              QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/Zentola"));
    // Worked out, not created: the writers create it when they first need it.
    EXPECT_EQ(QFileInfo::exists(videos), existedBefore);
}

TEST(SettingsEnumerationsTest, RawValuesLabelsExtensionsAndOrder) {
    QStringList raws, exts, utis;
    for (auto f : PM::ImageFormat::allCases()) {
        raws << f.rawValue();
        exts << f.fileExtension();
        utis << f.utiType();
        EXPECT_EQ(PM::ImageFormat::fromRawValue(f.rawValue()), f);
    }
    EXPECT_EQ(raws, (QStringList{"PNG", "JPEG", "WebP", "HEIC", "TIFF"}));
    EXPECT_EQ(exts, (QStringList{"png", "jpg", "webp", "heic", "tiff"}));
    EXPECT_EQ(utis[2], "org.webmproject.webp");
    EXPECT_EQ(QSet<QString>(utis.begin(), utis.end()).size(), 5);

    EXPECT_EQ(PM::VideoContainer(PM::VideoContainer::mov).rawValue(), "MOV");
    EXPECT_EQ(PM::VideoContainer(PM::VideoContainer::mp4).rawValue(), "MP4");
    EXPECT_EQ(PM::VideoContainer(PM::VideoContainer::mov).fileExtension(), "mov");
    EXPECT_EQ(PM::VideoContainer(PM::VideoContainer::mp4).fileExtension(), "mp4");
    EXPECT_EQ(PM::VideoContainer::allCases()[0], PM::VideoContainer::mov);
    EXPECT_EQ(PM::VideoCodec(PM::VideoCodec::h264).rawValue(), "H.264");
    EXPECT_EQ(PM::VideoCodec(PM::VideoCodec::hevc).rawValue(), "HEVC");
    EXPECT_EQ(PM::VideoCodec::allCases()[1], PM::VideoCodec::hevc);

    EXPECT_EQ(PM::VideoFrameRate(PM::VideoFrameRate::fps30).rawValue(), 30);
    EXPECT_EQ(PM::VideoFrameRate(PM::VideoFrameRate::fps60).rawValue(), 60);
    EXPECT_EQ(PM::VideoFrameRate(PM::VideoFrameRate::fps30).displayName(), "30 fps");
    EXPECT_EQ(PM::VideoFrameRate(PM::VideoFrameRate::fps60).displayName(), "60 fps");
    EXPECT_EQ(PM::VideoFrameRate::fromRawValue(45), std::nullopt);

    QStringList audio;
    QList<bool> mic;
    for (auto a : PM::AudioOption::allCases()) {
        audio << a.rawValue();
        mic << a.requiresMicrophonePermission();
    }
    EXPECT_EQ(audio, (QStringList{"None", "System Audio", "Microphone", "Both"}));
    EXPECT_EQ(mic, (QList<bool>{false, false, true, true}));
}
