#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

// What ffprobe and ffmpeg's analysing filters say about a movie file.
struct MovieProbe {
    struct Track {
        QString type, codec, tag;  // "video"/"audio", "h264"/"hevc"/"aac"/"pcm_f32le", "avc1"/"hvc1"
        int width = 0, height = 0;
        double frameRate = 0, baseRate = 0;  // average frames per second; the time base's rate
        double duration = 0;
        int frames = 0, sampleRate = 0;
    };
    QString majorBrand;  // "qt  ", "isom", ...
    double duration = 0;
    std::vector<Track> tracks;
    bool fragmented = false;  // has movie fragments

    // None when ffprobe cannot read the file.
    static std::optional<MovieProbe> probe(const QString& path);
    const Track* video() const;
    std::vector<const Track*> audio() const;

    // The longest time between two consecutive frames of the video track, in seconds.
    static double largestFrameGap(const QString& path);
    // The mean volume in dB (volumedetect) of an audio track (0 the first), between two times.
    static double meanVolume(const QString& path, int track, double from = 0, double to = 1e6);
    // When sound starts after silence (below -30 dB), in the movie's time.
    static std::vector<double> soundOnsets(const QString& path, int track);
    // The picture at a time of the movie (null when it cannot be decoded).
    static QImage frame(const QString& path, double at = 0);
    // When an area of the picture stops being black, in the movie's time.
    static std::optional<double> pictureOnset(const QString& path, const QRect& area);
};
