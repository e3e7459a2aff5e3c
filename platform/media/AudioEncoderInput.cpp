#include "platform/media/AudioEncoderInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {

namespace {

// How far the delivered audio may lie from where it would land before silence is inserted or
// samples are cut (a gap in the sound, lost audio); 40 ms.
constexpr long long slackFrames = AudioEncoderInput::sampleRate / 25;
// Below that, the sound is stretched or squeezed towards its time instead, inaudibly: by at most
// one sample in 200, once it is more than a millisecond off. A sound card's clock drifts far more
// slowly than that from the capture clock.
constexpr long long compensationThreshold = AudioEncoderInput::sampleRate / 1000;
constexpr int compensationSpread = 200;
constexpr int pcmFrameSize = 1024;

}  // namespace

AudioEncoderInput::AudioEncoderInput(std::shared_ptr<MovieMuxer> muxer, std::optional<AudioOutputSettings> settings)
    : EncoderInput(std::move(muxer), MediaType::audio, queueCapacity), settings_(settings) {
    if (settings_)
        channels_ = settings_->channelCount;
}

AudioEncoderInput::~AudioEncoderInput() {
    stop();
    swr_free(&resampler_);
    if (fifo_)
        av_audio_fifo_free(fifo_);
    av_frame_free(&frame_);
}

bool AudioEncoderInput::supports(const std::optional<AudioOutputSettings>& s) {
    if (!s)
        return true;
    return s->formatID == AudioOutputSettings::aacFormatID && s->sampleRate == sampleRate &&
           (s->channelCount == 1 || s->channelCount == 2) && s->bitRate >= 32000 && s->bitRate <= 512000;
}

bool AudioEncoderInput::append(const SampleBuffer& buffer) {
    if (!buffer.isAudio() || buffer.audioFrameCount() == 0 || !buffer.presentationTimeStamp().isValid())
        return false;
    const auto& f = buffer.audioFormat();
    if (f.sampleRate < 8000 || f.sampleRate > 192000 || f.channelCount < 1 || f.channelCount > 8)
        return false;
    return enqueue({buffer, nullptr});
}

void AudioEncoderInput::openEncoder() {
    bool pcm = !settings_ && muxer_->fileType() == AssetWriter::FileType::quickTimeMovie;
    const AVCodec* codec = avcodec_find_encoder(pcm ? AV_CODEC_ID_PCM_F32LE : AV_CODEC_ID_AAC);
    if (!codec)
        throw mediaError("No audio encoder", AVERROR_ENCODER_NOT_FOUND);
    encoder_ = avcodec_alloc_context3(codec);
    encoder_->sample_rate = sampleRate;
    av_channel_layout_default(&encoder_->ch_layout, channels_);
    encoder_->sample_fmt = pcm ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    encoder_->time_base = AVRational{1, sampleRate};
    if (!pcm)
        encoder_->bit_rate = settings_ ? settings_->bitRate : 128000;
    if (muxer_->context()->oformat->flags & AVFMT_GLOBALHEADER)
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(encoder_, codec, nullptr);
    if (rc < 0)
        throw mediaError("Cannot open the audio encoder", rc);
    fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, channels_, sampleRate);
    frame_ = av_frame_alloc();
    if (!fifo_ || !frame_)
        throw mediaError("Cannot allocate audio buffers", AVERROR(ENOMEM));
}

void AudioEncoderInput::configureResampler(const SampleBuffer::AudioFormat& format) {
    if (sourceFormat_ && *sourceFormat_ == format)
        return;
    swr_free(&resampler_);
    AVChannelLayout in;
    av_channel_layout_default(&in, format.channelCount);
    AVSampleFormat inFormat = format.sampleFormat == AudioSampleFormat::float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
    int rc = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, encoder_->sample_fmt, sampleRate, &in, inFormat,
                                 format.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (rc >= 0)
        rc = swr_init(resampler_);
    if (rc < 0)
        throw mediaError("Cannot convert the audio", rc);
    sourceFormat_ = format;
    compensation_ = 0;
}

void AudioEncoderInput::compensate(long long late) {
    const long long wanted = std::abs(late) > compensationThreshold ? late : 0;
    if (wanted == compensation_)
        return;
    const int distance = int(std::min<long long>(std::abs(wanted) * compensationSpread, INT32_MAX));
    if (swr_set_compensation(resampler_, int(wanted), distance) >= 0)
        compensation_ = wanted;
}

void AudioEncoderInput::writeSilence(long long frames) {
    const int chunk = sampleRate / 10;
    std::vector<std::uint8_t> zeros(
        static_cast<std::size_t>(av_samples_get_buffer_size(nullptr, channels_, chunk, encoder_->sample_fmt, 1)), 0);
    const std::size_t planeBytes = av_sample_fmt_is_planar(encoder_->sample_fmt) ? zeros.size() / channels_ : 0;
    std::vector<std::uint8_t*> planes(static_cast<std::size_t>(channels_));
    for (std::size_t c = 0; c < planes.size(); ++c)
        planes[c] = zeros.data() + c * planeBytes;
    while (frames > 0) {
        const int n = static_cast<int>(std::min<long long>(frames, chunk));
        append(planes.data(), n, 0);
        frames -= n;
        drain(false);
    }
}

void AudioEncoderInput::encode(const Sample& sample) {
    const SampleBuffer& buffer = sample.buffer;
    MediaTime start = muxer_->sessionStart();
    if (!start.isValid())
        return;
    configureResampler(buffer.audioFormat());

    // Where these samples belong on the track, in output samples from the session start, and how
    // much later that is than where they would land (after what the resampler still holds).
    const long long at = (buffer.presentationTimeStamp() - start).rescaled(sampleRate);
    const long long late = at - nextSample_ - swr_get_delay(resampler_, sampleRate);
    long long skip = 0;
    if (nextSample_ == 0 || std::abs(late) > slackFrames) {
        // The first sound, or a real gap or overlap: placed exactly.
        if (late > 0)
            writeSilence(late);
        else
            skip = -late;
    } else {
        compensate(late);
    }

    const int inFrames = buffer.audioFrameCount();
    const int outCapacity = swr_get_out_samples(resampler_, inFrames) + 2 * int(compensationThreshold);
    std::vector<std::uint8_t*> out(static_cast<std::size_t>(channels_), nullptr);
    if (av_samples_alloc(out.data(), nullptr, channels_, std::max(outCapacity, 1), encoder_->sample_fmt, 0) < 0)
        throw mediaError("Cannot allocate audio buffers", AVERROR(ENOMEM));
    const std::uint8_t* in[1] = {buffer.audioData()};
    const int converted = swr_convert(resampler_, out.data(), outCapacity, in, inFrames);
    if (converted < 0) {
        av_freep(&out[0]);
        throw mediaError("Cannot convert the audio", converted);
    }
    append(out.data(), converted, skip);
    av_freep(&out[0]);
    drain(false);
}

// Puts converted samples in the fifo, leaving out the first `skip` of them.
void AudioEncoderInput::append(std::uint8_t* const* samples, int count, long long skip) {
    if (skip >= count)
        return;
    const int bytesPerSample = av_get_bytes_per_sample(encoder_->sample_fmt);
    const bool planar = av_sample_fmt_is_planar(encoder_->sample_fmt);
    std::vector<void*> planes(static_cast<std::size_t>(channels_));
    for (int c = 0; c < channels_; ++c) {
        std::uint8_t* base = planar ? samples[c] : samples[0];
        planes[static_cast<std::size_t>(c)] = base + skip * bytesPerSample * (planar ? 1 : channels_);
    }
    const int n = count - static_cast<int>(skip);
    av_audio_fifo_write(fifo_, planes.data(), n);
    nextSample_ += n;
}

void AudioEncoderInput::drain(bool all) {
    int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : pcmFrameSize;
    while (av_audio_fifo_size(fifo_) >= frameSize || (all && av_audio_fifo_size(fifo_) > 0)) {
        int n = std::min(frameSize, av_audio_fifo_size(fifo_));
        av_frame_unref(frame_);
        frame_->nb_samples = n;
        frame_->format = encoder_->sample_fmt;
        frame_->sample_rate = sampleRate;
        av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (av_frame_get_buffer(frame_, 0) < 0)
            throw mediaError("Cannot allocate audio buffers", AVERROR(ENOMEM));
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), n);
        frame_->pts = encodedSample_;
        encodedSample_ += n;
        sendFrame(frame_);
    }
}

void AudioEncoderInput::flush() {
    if (!encoder_ || !fifo_)
        return;
    if (resampler_) {
        // What the resampler still holds while it stretches the sound.
        std::vector<std::uint8_t*> out(static_cast<std::size_t>(channels_), nullptr);
        const int held = swr_get_out_samples(resampler_, 0);
        if (held > 0 && av_samples_alloc(out.data(), nullptr, channels_, held, encoder_->sample_fmt, 0) >= 0) {
            const int n = swr_convert(resampler_, out.data(), held, nullptr, 0);
            if (n > 0)
                append(out.data(), n, 0);
            av_freep(&out[0]);
        }
    }
    // Sound that stopped before the picture (a sound server that never came back) ends in
    // silence at the picture's end, so the track runs as long as the movie.
    const MediaTime start = muxer_->sessionStart();
    const MediaTime end = muxer_->videoEnd();
    if (start.isValid() && end.isValid()) {
        const long long missing = (end - start).rescaled(sampleRate) - nextSample_;
        if (missing > slackFrames)
            writeSilence(missing);
    }
    drain(true);
    sendFrame(nullptr);
}

}  // namespace platform
