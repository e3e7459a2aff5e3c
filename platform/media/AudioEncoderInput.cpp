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

// Drift allowed between where the delivered audio says it belongs and where it would land,
// before silence is inserted or samples cut: about one audio buffer.
constexpr long long slackFrames = AudioEncoderInput::sampleRate / 25;
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
    return enqueue(buffer);
}

void AudioEncoderInput::open() {
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
    streamIndex_ = muxer_->addStream(encoder_)->index;
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
}

void AudioEncoderInput::writeSilence(long long frames) {
    std::vector<std::uint8_t> zeros;
    while (frames > 0) {
        int n = static_cast<int>(std::min<long long>(frames, sampleRate / 10));
        int bytes = av_samples_get_buffer_size(nullptr, channels_, n, encoder_->sample_fmt, 1);
        zeros.assign(static_cast<std::size_t>(bytes), 0);
        std::vector<void*> planes(static_cast<std::size_t>(channels_));
        bool planar = av_sample_fmt_is_planar(encoder_->sample_fmt);
        int planeBytes = planar ? bytes / channels_ : bytes;
        for (int c = 0; c < channels_; ++c)
            planes[static_cast<std::size_t>(c)] = zeros.data() + (planar ? c * planeBytes : 0);
        av_audio_fifo_write(fifo_, planes.data(), n);
        nextSample_ += n;
        frames -= n;
        drain(false);
    }
}

void AudioEncoderInput::encode(const SampleBuffer& buffer) {
    MediaTime start = muxer_->sessionStart();
    if (!start.isValid())
        return;
    configureResampler(buffer.audioFormat());

    int inFrames = buffer.audioFrameCount();
    int outCapacity = swr_get_out_samples(resampler_, inFrames);
    std::vector<std::uint8_t*> out(static_cast<std::size_t>(channels_), nullptr);
    if (av_samples_alloc(out.data(), nullptr, channels_, std::max(outCapacity, 1), encoder_->sample_fmt, 0) < 0)
        throw mediaError("Cannot allocate audio buffers", AVERROR(ENOMEM));
    const std::uint8_t* in[1] = {buffer.audioData()};
    int converted = swr_convert(resampler_, out.data(), outCapacity, in, inFrames);
    if (converted < 0) {
        av_freep(&out[0]);
        throw mediaError("Cannot convert the audio", converted);
    }

    // Where these samples belong on the track, in output samples from the session start.
    long long at = (buffer.presentationTimeStamp() - start).rescaled(sampleRate);
    long long skip = 0;
    if (at > nextSample_ + slackFrames)
        writeSilence(at - nextSample_);
    else if (at + slackFrames < nextSample_)
        skip = std::min<long long>(nextSample_ - at, converted);

    if (skip < converted) {
        int bytesPerSample = av_get_bytes_per_sample(encoder_->sample_fmt);
        bool planar = av_sample_fmt_is_planar(encoder_->sample_fmt);
        std::vector<void*> planes(static_cast<std::size_t>(channels_));
        for (int c = 0; c < channels_; ++c) {
            std::uint8_t* base = planar ? out[static_cast<std::size_t>(c)] : out[0];
            planes[static_cast<std::size_t>(c)] = base + skip * bytesPerSample * (planar ? 1 : channels_);
        }
        int n = converted - static_cast<int>(skip);
        av_audio_fifo_write(fifo_, planes.data(), n);
        nextSample_ += n;
    }
    av_freep(&out[0]);
    drain(false);
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
    drain(true);
    sendFrame(nullptr);
}

}  // namespace platform
