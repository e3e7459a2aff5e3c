#pragma once

#include <QString>

#include <optional>
#include <vector>

// What ffprobe says about a movie file.
struct MovieProbe {
    struct Track {
        QString type;       // "video" / "audio"
        QString codec;      // "h264", "hevc", "aac", "pcm_f32le", ...
        QString tag;        // "avc1", "hvc1", ...
        int width = 0;
        int height = 0;
        double frameRate = 0;  // average frames per second
        double baseRate = 0;   // the time base's rate (r_frame_rate)
        double startTime = 0;
        double duration = 0;
        int frames = 0;
        int sampleRate = 0;
        int channels = 0;
    };

    QString formatName;  // "mov,mp4,m4a,3gp,3g2,mj2"
    QString majorBrand;  // "qt  ", "isom", ...
    double duration = 0;
    std::vector<Track> tracks;
    bool fragmented = false;  // has movie fragments

    // None when ffprobe cannot read the file.
    static std::optional<MovieProbe> probe(const QString& path);

    const Track* video() const;
    std::vector<const Track*> audio() const;
};
