// The FFmpeg movie writer on its own: synthetic frames and tones in, ffprobe on what comes out.
#include "MovieProbe.h"
#include "SyntheticMedia.h"

#include "platform/media/AssetWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace platform;

namespace {

struct Feed {
    double seconds = 3.0;
    int fps = 30;
    MediaTime start = MediaTime::fromSeconds(1000.0);
    // Audio missing between these times (seconds from the start), to check it stays in step.
    double gapFrom = -1;
    double gapTo = -1;
};

class Harness {
public:
    Harness(const QString& path, AssetWriter::FileType type, VideoOutputSettings video, bool systemAudio,
            bool microphone)
        : writer(AssetWriter::create(path.toStdString(), type)) {
        videoInput = writer->makeVideoInput(video);
        EXPECT_TRUE(writer->canAdd(videoInput));
        writer->add(videoInput);
        adaptor = writer->makePixelBufferAdaptor(videoInput, {PixelBufferAdaptor::SourceAttributes::pixelFormatBGRA,
                                                              video.width, video.height});
        width = int(video.width);
        height = int(video.height);
        if (systemAudio) {
            audioInput = writer->makeAudioInput(AudioOutputSettings{});
            EXPECT_TRUE(writer->canAdd(audioInput));
            writer->add(audioInput);
        }
        if (microphone) {
            micInput = writer->makeAudioInput(std::nullopt);
            EXPECT_TRUE(writer->canAdd(micInput));
            writer->add(micInput);
        }
    }

    static void waitReady(const std::shared_ptr<WriterInput>& input) {
        for (int i = 0; i < 5000 && !input->isReadyForMoreMediaData(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void feed(const Feed& f) {
        ASSERT_TRUE(writer->startWriting()) << (writer->error() ? writer->error()->description() : "");
        writer->startSession(f.start);
        const int audioChunk = 480;  // 10 ms
        long long audioFrame = 0;
        int frames = int(f.seconds * f.fps);
        for (int i = 0; i < frames; ++i) {
            MediaTime t = f.start + MediaTime::fromSeconds(double(i) / f.fps);
            waitReady(videoInput);
            ASSERT_TRUE(adaptor->append(SyntheticMedia::frame(width, height, i), t));
            double until = double(i + 1) / f.fps;
            while (double(audioFrame) / 48000.0 < until) {
                double at = double(audioFrame) / 48000.0;
                bool inGap = at >= f.gapFrom && at < f.gapTo;
                MediaTime pts = f.start + MediaTime::make(audioFrame, 48000);
                if (!inGap) {
                    if (audioInput) {
                        waitReady(audioInput);
                        EXPECT_TRUE(audioInput->append(
                            SyntheticMedia::tone(AudioSampleFormat::float32, audioChunk, audioFrame, pts)));
                    }
                    if (micInput) {
                        waitReady(micInput);
                        EXPECT_TRUE(micInput->append(
                            SyntheticMedia::tone(AudioSampleFormat::int16, audioChunk, audioFrame, pts)));
                    }
                }
                audioFrame += audioChunk;
            }
        }
    }

    AssetWriter::Status finish() {
        std::promise<void> done;
        writer->finishWriting([&] { done.set_value(); });
        done.get_future().wait();
        return writer->status();
    }

    std::shared_ptr<AssetWriter> writer;
    std::shared_ptr<WriterInput> videoInput, audioInput, micInput;
    std::shared_ptr<PixelBufferAdaptor> adaptor;
    int width = 0, height = 0;
};

class MovieWriterTest : public ::testing::Test {
protected:
    QString file(const QString& name) { return dir.filePath(name); }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(MovieWriterTest, QuickTimeH264WithCompressedSystemAudioAndMicrophoneStoredAsDelivered) {
    Harness h(file("a.mov"), AssetWriter::FileType::quickTimeMovie,
              {VideoOutputSettings::Codec::h264, 1280, 720, 60}, true, true);
    h.feed({3.0, 60});
    ASSERT_EQ(h.finish(), AssetWriter::Status::completed);

    auto m = MovieProbe::probe(file("a.mov"));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->majorBrand, "qt  ");
    EXPECT_FALSE(m->fragmented) << "a finished movie is rewritten with one index";
    ASSERT_TRUE(m->video());
    EXPECT_EQ(m->video()->codec, "h264");
    EXPECT_EQ(m->video()->width, 1280);
    EXPECT_EQ(m->video()->height, 720);
    EXPECT_NEAR(m->video()->frameRate, 60, 1);
    EXPECT_EQ(m->video()->frames, 180);
    EXPECT_NEAR(m->duration, 3.0, 0.3);
    auto audio = m->audio();
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(audio[0]->codec, "aac");
    EXPECT_EQ(audio[0]->sampleRate, 48000);
    EXPECT_EQ(audio[0]->channels, 2);
    EXPECT_EQ(audio[1]->codec, "pcm_f32le");
    for (auto* a : audio) {
        EXPECT_NEAR(a->startTime, m->video()->startTime, 0.05);
        EXPECT_NEAR(a->duration, 3.0, 0.1);
    }
    EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).join(",").contains("finishing"));
}

TEST_F(MovieWriterTest, Mpeg4HevcIsTaggedHvc1EvenSizedAndKeepsTheMicrophoneAsAac) {
    Harness h(file("b.mp4"), AssetWriter::FileType::mpeg4, {VideoOutputSettings::Codec::hevc, 641, 479, 30}, false,
              true);
    h.feed({3.0, 30});
    ASSERT_EQ(h.finish(), AssetWriter::Status::completed);

    auto m = MovieProbe::probe(file("b.mp4"));
    ASSERT_TRUE(m);
    EXPECT_NE(m->majorBrand, "qt  ");
    ASSERT_TRUE(m->video());
    EXPECT_EQ(m->video()->codec, "hevc");
    EXPECT_EQ(m->video()->tag, "hvc1");
    EXPECT_EQ(m->video()->width, 640);
    EXPECT_EQ(m->video()->height, 478);
    EXPECT_NEAR(m->video()->frameRate, 30, 1);
    auto audio = m->audio();
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0]->codec, "aac");
    EXPECT_NEAR(audio[0]->startTime, m->video()->startTime, 0.05);
}

TEST_F(MovieWriterTest, AudioThatStopsForAWhileStaysInStepWithThePicture) {
    Harness h(file("c.mov"), AssetWriter::FileType::quickTimeMovie,
              {VideoOutputSettings::Codec::h264, 320, 240, 30}, true, false);
    // No sound for the first half second and for one second in the middle: both become silence.
    Feed f{3.0, 30};
    f.gapFrom = 0;
    f.gapTo = 0.5;
    h.feed(f);
    ASSERT_EQ(h.finish(), AssetWriter::Status::completed);
    auto m = MovieProbe::probe(file("c.mov"));
    ASSERT_TRUE(m);
    ASSERT_EQ(m->audio().size(), 1u);
    EXPECT_NEAR(m->audio()[0]->startTime, m->video()->startTime, 0.05);
    EXPECT_NEAR(m->audio()[0]->duration, 3.0, 0.1);
}

TEST_F(MovieWriterTest, ColoursComeBackFromTheEncodedMovie) {
    // Three vertical bands: red, green and a blue-grey, as BGRA.
    const int w = 192, h = 64;
    std::vector<std::uint8_t> px(std::size_t(w * h * 4));
    const std::uint8_t bands[3][3] = {{0, 0, 230}, {0, 200, 0}, {180, 90, 40}};  // B, G, R
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto* c = bands[x * 3 / w];
            std::uint8_t* p = px.data() + (y * w + x) * 4;
            p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
        }
    auto frame = Bitmap::create(w, h, w * 4, PixelFormat::BGRA, AlphaMode::opaque, px);
    auto writer = AssetWriter::create(file("colour.mp4").toStdString(), AssetWriter::FileType::mpeg4);
    auto video = writer->makeVideoInput({VideoOutputSettings::Codec::h264, w, h, 30});
    writer->add(video);
    auto adaptor = writer->makePixelBufferAdaptor(video, {PixelBufferAdaptor::SourceAttributes::pixelFormatBGRA, w, h});
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(MediaTime::fromSeconds(5));
    for (int i = 0; i < 10; ++i) {
        Harness::waitReady(video);
        ASSERT_TRUE(adaptor->append(frame, MediaTime::fromSeconds(5 + i / 30.0)));
    }
    std::promise<void> done;
    writer->finishWriting([&] { done.set_value(); });
    done.get_future().wait();
    ASSERT_EQ(writer->status(), AssetWriter::Status::completed);

    QProcess decode;
    decode.start("ffmpeg", {"-v", "error", "-i", file("colour.mp4"), "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                            "rgb24", "-"});
    ASSERT_TRUE(decode.waitForFinished(30000));
    QByteArray rgb = decode.readAllStandardOutput();
    ASSERT_EQ(rgb.size(), w * h * 3);
    for (int band = 0; band < 3; ++band) {
        int x = band * w / 3 + w / 6, y = h / 2;
        const auto* p = reinterpret_cast<const std::uint8_t*>(rgb.constData()) + (y * w + x) * 3;
        SCOPED_TRACE(band);
        EXPECT_NEAR(p[0], bands[band][2], 8);
        EXPECT_NEAR(p[1], bands[band][1], 8);
        EXPECT_NEAR(p[2], bands[band][0], 8);
    }
}

TEST_F(MovieWriterTest, NeverReplacesAFileAndCreatesNothingBeforeWritingStarts) {
    QFile existing(file("taken.mov"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    EXPECT_THROW(AssetWriter::create(file("taken.mov").toStdString(), AssetWriter::FileType::quickTimeMovie),
                 PlatformError);
    QFile check(file("taken.mov"));
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), "keep me");

    EXPECT_THROW(AssetWriter::create(file("missing/x.mov").toStdString(), AssetWriter::FileType::quickTimeMovie),
                 PlatformError);

    // A writer that never started leaves no file, and finishing it reports no completed movie.
    Harness h(file("never.mov"), AssetWriter::FileType::quickTimeMovie,
              {VideoOutputSettings::Codec::h264, 320, 240, 30}, true, false);
    EXPECT_EQ(h.writer->status(), AssetWriter::Status::unknown);
    EXPECT_EQ(h.finish(), AssetWriter::Status::unknown);
    EXPECT_FALSE(QFile::exists(file("never.mov")));
}

TEST_F(MovieWriterTest, RefusesInputsItCannotEncode) {
    auto writer = AssetWriter::create(file("d.mp4").toStdString(), AssetWriter::FileType::mpeg4);
    EXPECT_FALSE(writer->canAdd(writer->makeVideoInput({VideoOutputSettings::Codec::h264, 1, 100, 30})));
    EXPECT_FALSE(writer->canAdd(writer->makeVideoInput({VideoOutputSettings::Codec::hevc, 10000, 100, 30})));
    AudioOutputSettings mono44{AudioOutputSettings::aacFormatID, 44100, 2, 128000};
    EXPECT_FALSE(writer->canAdd(writer->makeAudioInput(mono44)));
    auto video = writer->makeVideoInput({VideoOutputSettings::Codec::h264, 100, 100, 30});
    ASSERT_TRUE(writer->canAdd(video));
    writer->add(video);
    EXPECT_FALSE(writer->canAdd(video));
    EXPECT_FALSE(writer->canAdd(writer->makeVideoInput({VideoOutputSettings::Codec::h264, 100, 100, 30})))
        << "one video track";
}
