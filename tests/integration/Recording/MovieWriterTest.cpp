// The FFmpeg movie writer on its own: synthetic frames and tones in, ffprobe and ffmpeg on what comes out.
#include "MovieProbe.h"
#include "support/SmallDisk.h"
#include "support/WaitUntil.h"

#include "Features/Capture/VideoWriterContext.h"
#include "platform/media/AssetWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <future>
#include <random>
#include <sched.h>
#include <thread>

using namespace platform;

namespace {

AssetWriter::Status finish(AssetWriter& writer) {
    std::promise<void> done;
    writer.finishWriting([&] { done.set_value(); });
    done.get_future().wait();
    return writer.status();
}

class Harness {
public:
    Harness(const QString& path, AssetWriter::FileType type, VideoOutputSettings video, bool systemAudio, bool microphone)
        : writer(AssetWriter::create(path.toStdString(), type)) {
        inputs = {add(writer->makeVideoInput(video)), systemAudio ? add(writer->makeAudioInput(AudioOutputSettings{})) : nullptr,
                  microphone ? add(writer->makeAudioInput(std::nullopt)) : nullptr};
        adaptor = writer->makePixelBufferAdaptor(inputs[0], {PixelBufferAdaptor::SourceAttributes::pixelFormatBGRA, video.width, video.height});
    }
    std::shared_ptr<WriterInput> add(std::shared_ptr<WriterInput> input) {
        EXPECT_TRUE(writer->canAdd(input));
        writer->add(input);
        return input;
    }
    static void waitReady(const std::shared_ptr<WriterInput>& input) {
        for (int i = 0; i < 5000 && !input->isReadyForMoreMediaData(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // `seconds` of the picture from the session start, with 10 ms chunks of a 440 Hz tone to every
    // audio input in between, at the amplitude `sound` gives for each chunk's time (none: no chunk).
    // The sound card's clock runs `drift` slow: each chunk's 480 samples took longer.
    void feed(double seconds, int fps, BitmapRef picture, const std::function<std::optional<double>(double)>& sound,
              double drift = 0) {
        ASSERT_TRUE(writer->startWriting());
        writer->startSession(start);
        long long sample = 0;
        for (int i = 0; i < int(seconds * fps); ++i) {
            waitReady(inputs[0]);
            ASSERT_TRUE(adaptor->append(picture, start + MediaTime::fromSeconds(double(i) / fps)));
            for (double at; (at = sample / 48000.0 * (1 + drift)) < double(i + 1) / fps; sample += 480) {
                const auto amplitude = sound(at);
                std::vector<float> pcm(960);
                for (std::size_t k = 0; k < pcm.size(); ++k)
                    pcm[k] = float(amplitude.value_or(0) * std::sin(2 * M_PI * 440.0 * double(sample + k / 2) / 48000.0));
                const auto chunk = SampleBuffer::audio(std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t*>(pcm.data()),
                                                                                 reinterpret_cast<std::uint8_t*>(pcm.data() + pcm.size())),
                                                       {}, start + MediaTime::fromSeconds(at));
                for (std::size_t k = 1; k < inputs.size(); ++k)
                    if (inputs[k] && amplitude) {
                        waitReady(inputs[k]);
                        EXPECT_TRUE(inputs[k]->append(chunk));
                    }
            }
        }
    }

    MediaTime start = MediaTime::fromSeconds(1000.0);
    std::shared_ptr<AssetWriter> writer;
    std::vector<std::shared_ptr<WriterInput>> inputs;  // video, system audio, microphone
    std::shared_ptr<PixelBufferAdaptor> adaptor;
};

// Three vertical bands, red, green and a blue-grey, in RGBA (grabs give BGRA); the fourth byte as a
// screen grab leaves it.
const std::uint8_t bands[3][3] = {{230, 0, 0}, {0, 200, 0}, {40, 90, 180}};
BitmapRef picture(int w, int h) {
    std::vector<std::uint8_t> px(std::size_t(w * h * 4));
    std::mt19937 rng(1);
    for (int i = 0; i < w * h; ++i) {
        std::copy_n(bands[(i % w) * 3 / w], 3, px.begin() + i * 4);
        px[std::size_t(i) * 4 + 3] = std::uint8_t(rng());
    }
    return Bitmap::create(w, h, w * 4, PixelFormat::RGBA, AlphaMode::opaque, std::move(px));
}

class MovieWriterTest : public ::testing::Test {
protected:
    QString file(const QString& name) { return dir.filePath(name); }
    QTemporaryDir dir;
};

}  // namespace

// The sound starts late, drifts 0.4 % from the picture's clock (a slow sound card) and stops early:
// each beep is heard within a few milliseconds of its time, and every track runs to the picture's end.
TEST_F(MovieWriterTest, QuickTimeH264KeepsCompressedAndStoredSoundOnThePicturesClock) {
    Harness h(file("a.mov"), AssetWriter::FileType::quickTimeMovie, {VideoOutputSettings::Codec::h264, 1280, 720, 60}, true, true);
    h.feed(3.0, 60, picture(1280, 720), [](double at) -> std::optional<double> {
        if (at < 0.5 || at > 2.7)
            return std::nullopt;
        return (at >= 1.0 && at < 1.1) || (at >= 2.5 && at < 2.6) ? 0.5 : 0.0;
    }, 0.004);
    ASSERT_EQ(finish(*h.writer), AssetWriter::Status::completed);
    auto m = MovieProbe::probe(file("a.mov"));
    ASSERT_TRUE(m && m->video());
    EXPECT_EQ(m->video()->codec, "h264");
    EXPECT_EQ(m->video()->frames, 180);
    EXPECT_NEAR(m->video()->frameRate, 60, 1);
    ASSERT_EQ(m->audio().size(), 2u);
    EXPECT_EQ(m->audio()[0]->codec, "aac");
    EXPECT_EQ(m->audio()[1]->codec, "pcm_f32le");
    for (auto* a : m->audio())
        EXPECT_NEAR(a->duration, 3.0, 0.05);
    // Each beep starts with the first 10.04 ms chunk stamped at or after its time.
    const auto onsets = MovieProbe::soundOnsets(file("a.mov"), 1);
    ASSERT_GE(onsets.size(), 2u);
    EXPECT_NEAR(onsets[0], std::ceil(1.0 / 0.01004) * 0.01004, 0.003);
    EXPECT_NEAR(onsets[1], std::ceil(2.5 / 0.01004) * 0.01004, 0.003);
    EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).join(",").contains("finishing"));
}

// MPEG-4 HEVC of an odd size, the microphone as AAC: the colours come back from the movie whatever
// the fourth byte of each pixel.
TEST_F(MovieWriterTest, Mpeg4HevcIsEvenSizedTaggedHvc1AndKeepsItsColours) {
    Harness h(file("b.mp4"), AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::hevc, 193, 65, 30}, false, true);
    h.feed(0.5, 30, picture(193, 65), [](double) { return std::optional<double>(0.5); });
    ASSERT_EQ(finish(*h.writer), AssetWriter::Status::completed);
    auto m = MovieProbe::probe(file("b.mp4"));
    ASSERT_TRUE(m && m->video());
    EXPECT_NE(m->majorBrand, "qt  ");
    EXPECT_EQ(m->video()->tag, "hvc1");
    EXPECT_EQ(QSize(m->video()->width, m->video()->height), QSize(192, 64));
    ASSERT_EQ(m->audio().size(), 1u);
    EXPECT_EQ(m->audio()[0]->codec, "aac");
    const QImage first = MovieProbe::frame(file("b.mp4"));
    ASSERT_EQ(first.size(), QSize(192, 64));
    for (int band = 0; band < 3; ++band) {
        const QRgb rgb = first.pixel(band * 64 + 32, 32);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR((rgb >> (16 - 8 * c)) & 0xff, bands[band][c], 8) << band << "," << c;
    }
}

// The first sound comes after the movie's first fragment is on disk (a quiet output that wakes up
// late): in the finished movie it still lies where it was stamped, as does the picture.
TEST_F(MovieWriterTest, SoundThatBeginsAfterTheFirstFragmentKeepsItsPlace) {
    Harness h(file("late.mp4"), AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::h264, 320, 240, 30}, true, false);
    ASSERT_TRUE(h.writer->startWriting());
    h.writer->startSession(h.start);
    const BitmapRef still = picture(320, 240);
    for (int i = 0; i < 120; ++i) {
        Harness::waitReady(h.inputs[0]);
        ASSERT_TRUE(h.adaptor->append(still, h.start + MediaTime::fromSeconds(i / 30.0)));
    }
    const auto fragmentWritten = [&] {
        QFile movie(file("late.mp4"));
        return movie.open(QIODevice::ReadOnly) && movie.readAll().contains("moof");
    };
    ASSERT_TRUE(waitUntil(fragmentWritten, 10000)) << "no fragment written";
    // From 2.5 s on, in 10 ms chunks: a tone from 3.0 s to 3.2 s, silence around it.
    for (long long sample = 120000; sample < 187200; sample += 480) {
        std::vector<float> pcm(960, 0.0f);
        if (sample >= 144000 && sample < 153600)
            for (std::size_t k = 0; k < pcm.size(); ++k)
                pcm[k] = float(0.5 * std::sin(2 * M_PI * 440.0 * double(sample + k / 2) / 48000.0));
        Harness::waitReady(h.inputs[1]);
        ASSERT_TRUE(h.inputs[1]->append(SampleBuffer::audio(
            std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t*>(pcm.data()), reinterpret_cast<std::uint8_t*>(pcm.data() + pcm.size())),
            {}, h.start + MediaTime::fromSeconds(sample / 48000.0))));
    }
    ASSERT_EQ(finish(*h.writer), AssetWriter::Status::completed);
    const auto onsets = MovieProbe::soundOnsets(file("late.mp4"), 0);
    ASSERT_FALSE(onsets.empty());
    EXPECT_NEAR(onsets[0], 3.0, 0.010);
    auto m = MovieProbe::probe(file("late.mp4"));
    ASSERT_TRUE(m && m->video());
    EXPECT_EQ(m->video()->frames, 120);
    EXPECT_NEAR(m->video()->duration, 4.0, 0.001);
}

// A capture that stalls and catches up hands on four frames within two frame intervals, then none
// for three: the count the stop tells is the number of frame slots the movie lacks.
TEST_F(MovieWriterTest, ABurstOfFramesCountsAsDroppedExactlyTheSlotsTheMovieLacks) {
    Harness h(file("burst.mov"), AssetWriter::FileType::quickTimeMovie, {VideoOutputSettings::Codec::h264, 320, 240, 30}, false, false);
    zentola::VideoWriterContext context;
    context.setFrameInterval(MediaTime::make(1, 30));
    context.setup(h.writer, h.inputs[0], h.adaptor, nullptr, nullptr);
    std::vector<double> times;  // each frame's, in frame intervals from the first
    for (int i = 0; i < 30; ++i)
        if (i < 10 || i > 13)
            times.push_back(i);
    times.insert(times.begin() + 10, {10.0, 10.2, 10.4, 10.6});
    const BitmapRef still = picture(320, 240);
    for (double at : times) {
        if (at > 0)  // the first frame starts the writer
            Harness::waitReady(h.inputs[0]);
        context.processVideoSampleBuffer(SampleBuffer::video(still, h.start + MediaTime::fromSeconds(at / 30)));
    }
    context.setIsWriting(false);
    h.inputs[0]->markAsFinished();
    ASSERT_EQ(finish(*h.writer), AssetWriter::Status::completed);
    auto m = MovieProbe::probe(file("burst.mov"));
    ASSERT_TRUE(m && m->video());
    const long long lacking = std::llround(m->video()->duration * 30) - m->video()->frames;
    EXPECT_GT(lacking, 0) << "the burst left no hole";
    EXPECT_EQ(context.frameGaps().dropped, lacking);
}

// 123 frames at 30 fps, each a picture that does not compress where `noisy` says, a still one
// elsewhere; a fragment begins every two seconds and is on disk once the next one begins. Returns
// once the file has stopped growing past `atLeast` bytes, with its size.
qint64 recordNoise(Harness& h, const QString& path, const std::function<bool(int frame)>& noisy, qint64 atLeast) {
    EXPECT_TRUE(h.writer->startWriting());
    h.writer->startSession(h.start);
    std::vector<BitmapRef> noise;
    std::mt19937 rng(7);
    for (int i = 0; i < 8; ++i) {
        std::vector<std::uint8_t> px(320 * 240 * 4);
        std::generate(px.begin(), px.end(), [&] { return std::uint8_t(rng()); });
        noise.push_back(Bitmap::create(320, 240, 320 * 4, PixelFormat::BGRA, AlphaMode::opaque, std::move(px)));
    }
    const BitmapRef still = picture(320, 240);
    for (int i = 0; i < 123; ++i) {
        Harness::waitReady(h.inputs[0]);
        EXPECT_TRUE(h.adaptor->append(noisy(i) ? noise[std::size_t(i) % noise.size()] : still,
                                      h.start + MediaTime::fromSeconds(i / 30.0)));
    }
    qint64 size = 0;
    EXPECT_TRUE(waitUntil([&] { return (size = QFileInfo(path).size()) > atLeast; }, 20000)) << size;
    while (waitUntil([&] { return QFileInfo(path).size() != size; }, 500))
        size = QFileInfo(path).size();
    return size;
}

// A disk that fills up while the movie is recorded. With room for the last fragment but not for the
// regular movie's copy, the movie is kept as it was written (fragmented, and it plays whole) and the
// writer says why. Without room for the last fragment, which the finish writes, the movie is not
// complete: the writer fails, and the file plays up to the last fragment that the disk took whole.
TEST_F(MovieWriterTest, AMovieWithoutRoomToBeFinishedIsKeptAsWrittenOrFailsAndPlaysToItsLastFragment) {
    SmallDisk disk(file("disk"), "size=24m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << disk.reason();
    {
        const QString path = file("disk/tight.mp4");
        Harness h(path, AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::h264, 320, 240, 30}, false, false);
        const qint64 size = recordNoise(h, path, [](int i) { return i < 60; }, 1'500'000);
        ASSERT_GT(disk.free(), size + (1 << 20)) << "the disk is too small to test this";
        ASSERT_TRUE(disk.fillLeaving(1 << 20));
        ASSERT_EQ(finish(*h.writer), AssetWriter::Status::completed);
        const auto kept = h.writer->keptAsWritten();
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->code(), ENOSPC);
        EXPECT_TRUE(QString::fromStdString(kept->description()).contains("not enough room")) << kept->description();
        auto m = MovieProbe::probe(path);
        ASSERT_TRUE(m && m->video()) << "ffprobe cannot read the movie kept";
        EXPECT_TRUE(m->fragmented);
        EXPECT_EQ(m->video()->frames, 123);
        EXPECT_FALSE(QDir(file("disk")).entryList(QDir::Hidden | QDir::Files).join(",").contains("finishing"));
        QFile::remove(path);
        disk.empty();
    }
    const QString path = file("disk/full.mp4");
    Harness h(path, AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::h264, 320, 240, 30}, false, false);
    recordNoise(h, path, [](int i) { return i >= 120; }, 0);
    const auto written = MovieProbe::probe(path);
    ASSERT_TRUE(written && written->video()) << "ffprobe cannot read what was written";
    ASSERT_LT(written->video()->frames, 123) << "no fragment left to write at the finish";
    ASSERT_TRUE(disk.fillLeaving(48 << 10));
    EXPECT_EQ(finish(*h.writer), AssetWriter::Status::failed);
    auto m = MovieProbe::probe(path);
    ASSERT_TRUE(m && m->video()) << "ffprobe cannot read what was kept";
    EXPECT_GE(m->video()->frames, written->video()->frames);
    EXPECT_EQ(m->video()->frames % 60, 0) << "a fragment cut short";
}

TEST_F(MovieWriterTest, NeverReplacesAFileCreatesNothingBeforeWritingStartsAndRefusesWhatItCannotEncode) {
    QFile existing(file("taken.mov"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
    existing.close();
    EXPECT_THROW(AssetWriter::create(file("taken.mov").toStdString(), AssetWriter::FileType::quickTimeMovie), PlatformError);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), "keep me");
    EXPECT_THROW(AssetWriter::create(file("missing/x.mov").toStdString(), AssetWriter::FileType::quickTimeMovie), PlatformError);
    // A writer that never started leaves no file, and finishing it reports no completed movie.
    Harness never(file("never.mov"), AssetWriter::FileType::quickTimeMovie, {VideoOutputSettings::Codec::h264, 320, 240, 30}, true, false);
    EXPECT_EQ(finish(*never.writer), AssetWriter::Status::unknown);
    EXPECT_FALSE(QFile::exists(file("never.mov")));
    auto writer = AssetWriter::create(file("d.mp4").toStdString(), AssetWriter::FileType::mpeg4);
    EXPECT_FALSE(writer->canAdd(writer->makeVideoInput({VideoOutputSettings::Codec::h264, 1, 100, 30})));
    EXPECT_FALSE(writer->canAdd(writer->makeAudioInput(AudioOutputSettings{AudioOutputSettings::aacFormatID, 44100, 2, 128000})));
    auto video = writer->makeVideoInput({VideoOutputSettings::Codec::h264, 100, 100, 30});
    writer->add(video);
    EXPECT_FALSE(writer->canAdd(writer->makeVideoInput({VideoOutputSettings::Codec::h264, 100, 100, 30}))) << "one video track";
}

// x264 would run half as many threads again as there are cores, each holding pictures of its own;
// a recording takes one per core it may run on. The encoder writes its settings into the stream.
TEST_F(MovieWriterTest, H264EncodesOnOneThreadPerCoreTheRecorderMayRunOn) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    std::vector<int> cores;
    for (int c = 0; c < CPU_SETSIZE && cores.size() < 2; ++c)
        if (CPU_ISSET(c, &all))
            cores.push_back(c);
    if (cores.size() < 2)
        GTEST_SKIP() << "needs two cores";
    std::thread recorder([&] {
        cpu_set_t two;
        CPU_ZERO(&two);
        for (int c : cores)
            CPU_SET(c, &two);
        ASSERT_EQ(sched_setaffinity(0, sizeof two, &two), 0);
        Harness h(file("c.mp4"), AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::h264, 320, 240, 30}, false, false);
        h.feed(0.2, 30, picture(320, 240), [](double) { return std::nullopt; });
        EXPECT_EQ(finish(*h.writer), AssetWriter::Status::completed);
    });
    recorder.join();
    QFile movie(file("c.mp4"));
    ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
    const QByteArray bytes = movie.readAll();
    const qsizetype at = bytes.indexOf(" threads=");
    ASSERT_GE(at, 0) << "no encoder settings in the stream";
    EXPECT_EQ(bytes.mid(at + 9, 2), "2 ");
}
