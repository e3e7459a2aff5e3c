#include "MovieProbe.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

double rate(const QString& ratio) {
    auto parts = ratio.split('/');
    if (parts.size() != 2 || parts[1].toDouble() == 0)
        return 0;
    return parts[0].toDouble() / parts[1].toDouble();
}

}  // namespace

std::optional<MovieProbe> MovieProbe::probe(const QString& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-count_packets", "-show_format", "-show_streams", "-of", "json", path});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return std::nullopt;
    auto doc = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    MovieProbe m;
    auto format = doc["format"].toObject();
    m.formatName = format["format_name"].toString();
    m.majorBrand = format["tags"].toObject()["major_brand"].toString();
    m.duration = format["duration"].toString().toDouble();
    for (const auto& v : doc["streams"].toArray()) {
        auto s = v.toObject();
        Track t;
        t.type = s["codec_type"].toString();
        t.codec = s["codec_name"].toString();
        t.tag = s["codec_tag_string"].toString();
        t.width = s["width"].toInt();
        t.height = s["height"].toInt();
        t.frameRate = rate(s["avg_frame_rate"].toString());
        t.baseRate = rate(s["r_frame_rate"].toString());
        t.startTime = s["start_time"].toString().toDouble();
        t.duration = s["duration"].toString().toDouble();
        t.frames = s["nb_read_packets"].toString().toInt();
        t.sampleRate = s["sample_rate"].toString().toInt();
        t.channels = s["channels"].toInt();
        m.tracks.push_back(t);
    }
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        m.fragmented = f.readAll().contains("moof");
    return m;
}

const MovieProbe::Track* MovieProbe::video() const {
    for (const auto& t : tracks)
        if (t.type == "video")
            return &t;
    return nullptr;
}

std::vector<const MovieProbe::Track*> MovieProbe::audio() const {
    std::vector<const Track*> out;
    for (const auto& t : tracks)
        if (t.type == "audio")
            out.push_back(&t);
    return out;
}
