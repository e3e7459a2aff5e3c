#include "Services/SoundManager.h"

#include "platform/core/Error.h"
#include "platform/desktop/SoundPlayer.h"
#include "resources/Bundle.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

class FakePlayer : public platform::SoundPlayer {
public:
    explicit FakePlayer(QString p) : path(std::move(p)) {}
    void setVolume(float v) override { vol = v; }
    float volume() const override { return vol; }
    bool play() override {
        ++plays;
        return true;
    }
    bool isPlaying() const override { return plays > 0; }
    double duration() const override { return 0.1; }

    QString path;
    float vol = 1.0f;
    int plays = 0;
};

struct SoundManagerTest : testing::Test {
    QSet<QString> files;
    std::optional<QString> bundleShutter = QString(":/bundle/shutter.aiff");
    QStringList bundleLookups;
    QStringList opened;
    bool playerFails = false;
    int beeps = 0;

    SoundManager make() {
        return SoundManager(SoundManager::Environment{
            [this](const QString& path) { return files.contains(path); },
            [this](const QString& name, const QString& ext) {
                bundleLookups << name + "." + ext;
                return bundleShutter;
            },
            [this](const QString& path) -> std::shared_ptr<platform::SoundPlayer> {
                opened << path;
                if (playerFails)
                    throw platform::PlatformError("SoundPlayer", 1, "cannot decode sound: bad header");
                return std::make_shared<FakePlayer>(path);
            },
            [this] { ++beeps; },
        });
    }
    static FakePlayer* player(const SoundManager& m) { return static_cast<FakePlayer*>(m.audioPlayer().get()); }
};

}  // namespace

TEST_F(SoundManagerTest, ThemeSoundsComeFirstInTheirOrder) {
    const QStringList& paths = SoundManager::systemScreenshotSoundPaths();
    ASSERT_EQ(paths.size(), 2);
    files = {paths[0], paths[1]};
    SoundManager manager = make();
    manager.playShutterSound();
    ASSERT_NE(player(manager), nullptr);
    EXPECT_EQ(player(manager)->path, paths[0]);
    EXPECT_FLOAT_EQ(player(manager)->vol, 0.5f);
    EXPECT_EQ(player(manager)->plays, 1);
    EXPECT_TRUE(bundleLookups.isEmpty());

    files = {paths[1]};
    manager.playShutterSound();
    EXPECT_EQ(player(manager)->path, paths[1]);
    EXPECT_EQ(beeps, 0);
}

TEST_F(SoundManagerTest, WithoutThemeSoundsTheBundleShutterThenTheBell) {
    SoundManager manager = make();
    manager.playShutterSound();
    EXPECT_EQ(bundleLookups, QStringList{"shutter.aiff"});
    ASSERT_NE(player(manager), nullptr);
    EXPECT_EQ(player(manager)->path, ":/bundle/shutter.aiff");
    EXPECT_EQ(beeps, 0);

    bundleShutter.reset();
    opened.clear();
    SoundManager bare = make();
    bare.playShutterSound();
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(bare.audioPlayer(), nullptr);
}

TEST_F(SoundManagerTest, UnplayableFileLogsAndRingsTheBell) {
    playerFails = true;
    SoundManager manager = make();
    testing::internal::CaptureStdout();
    manager.playShutterSound();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Failed to play sound: cannot decode sound: bad header\n");
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(manager.audioPlayer(), nullptr);
}

TEST_F(SoundManagerTest, NextSoundReplacesThePreviousPlayer) {
    SoundManager manager = make();
    manager.playShutterSound();
    std::weak_ptr<platform::SoundPlayer> first = manager.audioPlayer();
    manager.playShutterSound();
    EXPECT_TRUE(first.expired());
    EXPECT_NE(manager.audioPlayer(), nullptr);
}

TEST(SoundPlayerTest, DecodesTheBundledShutterAndRejectsGarbage) {
    const auto path = Bundle::resourcePath("shutter", "aiff");
    ASSERT_TRUE(path.has_value());
    auto player = platform::SoundPlayer::fromFile(*path);
    // A short, crisp click: well under a second but not empty.
    EXPECT_GT(player->duration(), 0.05);
    EXPECT_LT(player->duration(), 0.5);
    player->setVolume(3.0f);
    EXPECT_FLOAT_EQ(player->volume(), 1.0f);
    EXPECT_FALSE(player->isPlaying());

    EXPECT_THROW(platform::SoundPlayer::fromData(QByteArray("FORM\0\0\0\4AIFFjunkjunk", 20)), platform::PlatformError);
    EXPECT_THROW(platform::SoundPlayer::fromData(QByteArray()), platform::PlatformError);
    EXPECT_THROW(platform::SoundPlayer::fromFile("/nonexistent/sound.oga"), platform::PlatformError);
}

TEST(SoundPlayerTest, NamedSoundsResolveInTheSoundTheme) {
    const QString theme = "/usr/share/sounds/freedesktop/stereo/";
    if (!QFileInfo::exists(theme + "audio-volume-change.oga"))
        GTEST_SKIP() << "the freedesktop sound theme is not installed";
    EXPECT_EQ(platform::SoundPlayer::systemSoundPath("Tink"), theme + "audio-volume-change.oga");
    EXPECT_EQ(platform::SoundPlayer::systemSoundPath("camera-shutter"), theme + "camera-shutter.oga");
    EXPECT_FALSE(platform::SoundPlayer::systemSoundPath("no-such-sound").has_value());
    // The same player comes back, so a sound is not cut off when the caller lets go of it.
    auto tink = platform::SoundPlayer::systemSound("Tink");
    ASSERT_NE(tink, nullptr);
    EXPECT_EQ(platform::SoundPlayer::systemSound("Tink"), tink);
    EXPECT_LT(tink->duration(), 1.0);
    EXPECT_EQ(platform::SoundPlayer::systemSound("no-such-sound"), nullptr);
}
