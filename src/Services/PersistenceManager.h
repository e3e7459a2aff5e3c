#pragma once

#include "Models/CaptureMode.h"
#include "Models/EnumCaseHash.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"

#include <QPointF>
#include <QString>
#include <QUrl>

#include <array>
#include <functional>
#include <optional>

namespace platform {
class DefaultsStore;
}

namespace zentola {

// Owner of every user setting and remembered capture state, kept in the user's defaults store
// under "zentola." keys. No cache: getters read the store when called, setters write at once.
// Main thread only.
class PersistenceManager {
public:
    class ImageFormat {
    public:
        enum Value { png, jpeg, webp, heic, tiff };
        constexpr ImageFormat(Value v = png) : v_(v) {}
        constexpr operator Value() const { return v_; }
        QString rawValue() const;  // also the label shown: "PNG", "JPEG", "WebP", "HEIC", "TIFF"
        QString fileExtension() const;
        QString utiType() const;  // the image type identifier the file writer is asked for
        static std::optional<ImageFormat> fromRawValue(const QString& raw);
        static constexpr std::array<ImageFormat, 5> allCases() { return {png, jpeg, webp, heic, tiff}; }

    private:
        Value v_;
    };

    class VideoContainer {
    public:
        enum Value { mov, mp4 };
        constexpr VideoContainer(Value v = mov) : v_(v) {}
        constexpr operator Value() const { return v_; }
        QString rawValue() const;  // "MOV", "MP4"
        QString fileExtension() const;
        static std::optional<VideoContainer> fromRawValue(const QString& raw);
        static constexpr std::array<VideoContainer, 2> allCases() { return {mov, mp4}; }

    private:
        Value v_;
    };

    class VideoCodec {
    public:
        enum Value { h264, hevc };
        constexpr VideoCodec(Value v = h264) : v_(v) {}
        constexpr operator Value() const { return v_; }
        QString rawValue() const;  // "H.264", "HEVC"
        static std::optional<VideoCodec> fromRawValue(const QString& raw);
        static constexpr std::array<VideoCodec, 2> allCases() { return {h264, hevc}; }

    private:
        Value v_;
    };

    class VideoFrameRate {
    public:
        enum Value { fps30 = 30, fps60 = 60 };
        constexpr VideoFrameRate(Value v = fps30) : v_(v) {}
        constexpr operator Value() const { return v_; }
        int rawValue() const { return int(v_); }
        QString displayName() const;  // "30 fps"
        static std::optional<VideoFrameRate> fromRawValue(int raw);
        static constexpr std::array<VideoFrameRate, 2> allCases() { return {fps30, fps60}; }

    private:
        Value v_;
    };

    class AudioOption {
    public:
        enum Value { none, systemAudio, microphone, both };
        constexpr AudioOption(Value v = none) : v_(v) {}
        constexpr operator Value() const { return v_; }
        QString rawValue() const;  // "None", "System Audio", "Microphone", "Both"
        bool requiresMicrophonePermission() const { return v_ == microphone || v_ == both; }
        static std::optional<AudioOption> fromRawValue(const QString& raw);
        static constexpr std::array<AudioOption, 4> allCases() { return {none, systemAudio, microphone, both}; }

    private:
        Value v_;
    };

    // The instance over the user's standard store.
    static PersistenceManager& shared();
    // An instance over another store (tests).
    explicit PersistenceManager(platform::DefaultsStore& defaults);

    platform::DefaultsStore& defaults() const { return defaults_; }

    bool playSounds() const;
    void setPlaySounds(bool on);
    bool copyToClipboard() const;
    void setCopyToClipboard(bool on);
    bool showFlash() const;
    void setShowFlash(bool on);
    bool recordAtRetina() const;
    void setRecordAtRetina(bool on);
    double jpegQuality() const;  // 0...1 whatever the store holds
    void setJpegQuality(double quality);
    int recordingCountdown() const;
    void setRecordingCountdown(int seconds);  // clamped to 0...10

    ImageFormat saveFormat() const;
    void setSaveFormat(ImageFormat format);
    VideoContainer videoContainer() const;
    void setVideoContainer(VideoContainer container);
    VideoCodec videoCodec() const;
    void setVideoCodec(VideoCodec codec);
    VideoFrameRate videoFrameRate() const;
    void setVideoFrameRate(VideoFrameRate rate);
    AudioOption audioOption() const;
    void setAudioOption(AudioOption option);

    // The saved folder when it is still writable, else the default (forgetting the saved one).
    // Local file URLs.
    QUrl screenshotFolderURL() const;
    QUrl videoFolderURL() const;

    std::optional<CaptureMode> lastCaptureMode() const;
    void setLastCaptureMode(std::optional<CaptureMode> mode);  // no value removes the key
    std::optional<SelectionRect> savedRect() const;
    void setSavedRect(const std::optional<SelectionRect>& rect);  // no value removes the key
    std::optional<QPointF> controlBarPosition() const;
    void setControlBarPosition(const std::optional<QPointF>& position);  // no value removes the key

    // Remembers the window's owner name and title; a missing one removes its key.
    void saveLastWindow(const WindowInfo& window);

    // Non-modal folder pickers; completion(true) once a folder is chosen and stored, completion(false)
    // when cancelled (nothing stored). Return at once.
    void requestScreenshotFolderAccess(std::function<void(bool)> completion);
    void requestVideoFolderAccess(std::function<void(bool)> completion);
    void saveScreenshotFolderAccess(const QUrl& url);
    void saveVideoFolderAccess(const QUrl& url);

    // The user's pictures / videos folder (the desktop's user-dirs when they give an absolute path,
    // else ~/Pictures / ~/Videos) plus "Zentola"; worked out once, not created.
    static QUrl defaultScreenshotFolder();
    static QUrl defaultVideoFolder();

    PersistenceManager(const PersistenceManager&) = delete;
    PersistenceManager& operator=(const PersistenceManager&) = delete;

private:
    bool switchValue(const QString& key) const;
    QUrl folderURL(const QString& key, const QUrl& fallback) const;
    void requestFolderAccess(const QString& key, const QString& message, const QString& startDir,
                             std::function<void(bool)> completion);

    platform::DefaultsStore& defaults_;
};

}  // namespace zentola

template <>
struct std::hash<zentola::PersistenceManager::ImageFormat> : zentola::EnumCaseHash<zentola::PersistenceManager::ImageFormat> {};
template <>
struct std::hash<zentola::PersistenceManager::VideoContainer> : zentola::EnumCaseHash<zentola::PersistenceManager::VideoContainer> {};
template <>
struct std::hash<zentola::PersistenceManager::VideoCodec> : zentola::EnumCaseHash<zentola::PersistenceManager::VideoCodec> {};
template <>
struct std::hash<zentola::PersistenceManager::VideoFrameRate> : zentola::EnumCaseHash<zentola::PersistenceManager::VideoFrameRate> {};
template <>
struct std::hash<zentola::PersistenceManager::AudioOption> : zentola::EnumCaseHash<zentola::PersistenceManager::AudioOption> {};
