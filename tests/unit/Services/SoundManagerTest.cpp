#include "Services/SoundManager.h"

#include "platform/core/Error.h"
#include "platform/desktop/SoundPlayer.h"
#include "resources/Bundle.h"
#include "support/Printed.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

// Writes what is done with it into the test's list of events.
class FakePlayer : public platform::SoundPlayer {
public:
    explicit FakePlayer(QStringList& events) : events(events) {}
    void setVolume(float v) override { events << "volume " + QString::number(v); }
    float volume() const override { return 0; }
    bool play() override { events << "play"; return true; }
    bool isPlaying() const override { return false; }
    double duration() const override { return 0; }
    QStringList& events;
};

}  // namespace

// The theme's screenshot sounds in their order, else the app's shutter, else the bell; a file that
// cannot be played logs and rings the bell; the next sound replaces the player.
TEST(SoundManagerTest, PlaysTheFirstSoundThatExistsElseTheBell) {
    const QStringList& theme = SoundManager::systemScreenshotSoundPaths();
    ASSERT_EQ(theme.size(), 2);
    const QString shutter = ":/bundle/shutter.aiff";
    const struct { QSet<QString> files; std::optional<QString> bundled; bool playable; QString events; } cases[] = {
        {{theme[0], theme[1]}, shutter, true, "open " + theme[0] + ", volume 0.5, play"},
        {{theme[1]}, shutter, true, "open " + theme[1] + ", volume 0.5, play"},
        {{}, shutter, true, "bundle shutter.aiff, open " + shutter + ", volume 0.5, play"},
        {{}, std::nullopt, true, "bundle shutter.aiff, beep"},
        {{}, shutter, false, "bundle shutter.aiff, open " + shutter + ", beep"},
    };
    for (const auto& c : cases) {
        QStringList events;
        SoundManager manager(SoundManager::Environment{
            [&](const QString& path) { return c.files.contains(path); },
            [&](const QString& name, const QString& ext) {
                events << "bundle " + name + "." + ext;
                return c.bundled;
            },
            [&](const QString& path) -> std::shared_ptr<platform::SoundPlayer> {
                events << "open " + path;
                if (!c.playable)
                    throw platform::PlatformError("SoundPlayer", 1, "cannot decode sound: bad header");
                return std::make_shared<FakePlayer>(events);
            },
            [&] { events << "beep"; },
        });
        CapturedStdout printed;
        manager.playShutterSound();
        EXPECT_EQ(printed.text(),
                  c.playable ? "" : "Failed to play sound: cannot decode sound: bad header\n");
        EXPECT_EQ(events.join(", "), c.events);
        EXPECT_EQ(manager.audioPlayer() != nullptr, c.events.endsWith("play"));
        std::weak_ptr<platform::SoundPlayer> first = manager.audioPlayer();
        manager.playShutterSound();
        EXPECT_TRUE(first.expired());
    }
}

TEST(SoundPlayerTest, DecodesSoundsFindsThemeSoundsAndRejectsGarbage) {
    auto player = platform::SoundPlayer::fromFile(Bundle::resourcePath("shutter", "aiff").value_or(""));
    // A short, crisp click: well under a second but not empty.
    EXPECT_GT(player->duration(), 0.05);
    EXPECT_LT(player->duration(), 0.5);
    player->setVolume(3.0f);
    EXPECT_FLOAT_EQ(player->volume(), 1.0f);

    const QString theme = "/usr/share/sounds/freedesktop/stereo/";
    EXPECT_EQ(platform::SoundPlayer::systemSoundPath("Tink"), theme + "audio-volume-change.oga");
    EXPECT_EQ(platform::SoundPlayer::systemSoundPath("camera-shutter"), theme + "camera-shutter.oga");
    // The same player comes back, so a sound is not cut off when the caller lets go of it.
    auto tink = platform::SoundPlayer::systemSound("Tink");
    ASSERT_NE(tink, nullptr);
    EXPECT_EQ(platform::SoundPlayer::systemSound("Tink"), tink);

    EXPECT_FALSE(platform::SoundPlayer::systemSoundPath("no-such-sound") ||
                 platform::SoundPlayer::systemSound("no-such-sound"));
    EXPECT_THROW(platform::SoundPlayer::fromData(QByteArray("FORM\0\0\0\4AIFFjunkjunk", 20)), platform::PlatformError);
    EXPECT_THROW(platform::SoundPlayer::fromData(QByteArray()), platform::PlatformError);
    EXPECT_THROW(platform::SoundPlayer::fromFile("/nonexistent/sound.oga"), platform::PlatformError);
}
