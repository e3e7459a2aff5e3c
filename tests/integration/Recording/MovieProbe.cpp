#include "MovieProbe.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

double rate(const QString& ratio) {
    auto parts = ratio.split('/');
    return parts.size() == 2 && parts[1].toDouble() != 0 ? parts[0].toDouble() / parts[1].toDouble() : 0;
}

QByteArray output(const QString& program, const QStringList& args, bool standardOutput) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return standardOutput ? p.readAllStandardOutput() : p.readAllStandardError();
}

QString run(const QString& program, const QStringList& args, bool standardOutput) {
    return QString::fromUtf8(output(program, args, standardOutput));
}

// Every number that follows `key` in ffmpeg's report of a filter over the movie.
std::vector<double> reported(const QString& path, const QStringList& selection, const QString& key) {
    const QString log = run("ffmpeg", QStringList{"-hide_banner", "-nostats", "-i", path} + selection + QStringList{"-f", "null", "-"}, false);
    std::vector<double> values;
    for (const auto& m : QRegularExpression(key + "\\s*(-?[0-9.]+)").globalMatch(log))
        values.push_back(m.captured(1).toDouble());
    return values;
}

}  // namespace

std::optional<MovieProbe> MovieProbe::probe(const QString& path) {
    const QString json = run("ffprobe", {"-v", "error", "-count_packets", "-show_format", "-show_streams", "-of", "json", path}, true);
    auto doc = QJsonDocument::fromJson(json.toUtf8()).object();
    if (!doc.contains("format"))
        return std::nullopt;
    const auto format = doc["format"].toObject();
    MovieProbe m;
    m.majorBrand = format["tags"].toObject()["major_brand"].toString();
    m.duration = format["duration"].toString().toDouble();
    for (const auto& v : doc["streams"].toArray()) {
        auto s = v.toObject();
        m.tracks.push_back({s["codec_type"].toString(), s["codec_name"].toString(), s["codec_tag_string"].toString(),
                            s["width"].toInt(), s["height"].toInt(), rate(s["avg_frame_rate"].toString()),
                            rate(s["r_frame_rate"].toString()), s["duration"].toString().toDouble(),
                            s["nb_read_packets"].toString().toInt(), s["sample_rate"].toString().toInt()});
    }
    QFile f(path);
    m.fragmented = f.open(QIODevice::ReadOnly) && f.readAll().contains("moof");
    return m;
}

const MovieProbe::Track* MovieProbe::video() const {
    auto it = std::find_if(tracks.begin(), tracks.end(), [](const Track& t) { return t.type == "video"; });
    return it == tracks.end() ? nullptr : &*it;
}

std::vector<const MovieProbe::Track*> MovieProbe::audio() const {
    std::vector<const Track*> out;
    for (const auto& t : tracks)
        if (t.type == "audio")
            out.push_back(&t);
    return out;
}

double MovieProbe::largestFrameGap(const QString& path) {
    std::vector<double> times;
    for (const auto& line : run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time",
                                            "-of", "csv=p=0", path}, true).split('\n', Qt::SkipEmptyParts))
        times.push_back(line.toDouble());
    std::sort(times.begin(), times.end());
    std::adjacent_difference(times.begin(), times.end(), times.begin());
    return times.size() < 2 ? 1e9 : *std::max_element(times.begin() + 1, times.end());
}

double MovieProbe::meanVolume(const QString& path, int track, double from, double to) {
    auto v = reported(path, {"-map", QString("0:a:%1").arg(track), "-af",
                             QString("atrim=%1:%2,volumedetect").arg(from, 0, 'f', 3).arg(to, 0, 'f', 3)},
                      "mean_volume:");
    return v.empty() ? std::nan("") : v.front();
}

std::vector<double> MovieProbe::soundOnsets(const QString& path, int track) {
    return reported(path, {"-map", QString("0:a:%1").arg(track), "-af", "silencedetect=noise=-30dB:d=0.1"},
                    "silence_end:");
}

QImage MovieProbe::frame(const QString& path, double at) {
    return QImage::fromData(output("ffmpeg", {"-v", "error", "-ss", QString::number(at, 'f', 3), "-i", path, "-frames:v", "1",
                                              "-f", "image2pipe", "-c:v", "png", "-"}, true), "PNG");
}

std::optional<double> MovieProbe::pictureOnset(const QString& path, const QRect& area) {
    auto v = reported(path, {"-map", "0:v:0", "-vf", QString("crop=%1:%2:%3:%4,blackdetect=d=0.01:pic_th=0.9")
                                                      .arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y())},
                      "black_end:");
    return v.empty() ? std::nullopt : std::optional<double>(v.front());
}
