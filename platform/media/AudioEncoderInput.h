#pragma once

#include "platform/media/EncoderInput.h"

#include <optional>

struct SwrContext;
struct AVAudioFifo;

namespace platform {

// Audio track: interleaved PCM resampled with libswresample and encoded as AAC, or stored as
// 32-bit float PCM when no settings are given and the container holds PCM (QuickTime). MPEG-4
// holds no PCM, so there it is AAC either way.
//
// The track's time line starts at the session start. A gap in the delivered audio becomes
// silence and an overlap is cut, so sound stays in step with the picture.
class AudioEncoderInput : public EncoderInput {
public:
    static constexpr std::size_t queueCapacity = 64;
    static constexpr int sampleRate = 48000;

    AudioEncoderInput(std::shared_ptr<MovieMuxer> muxer, std::optional<AudioOutputSettings> settings);
    ~AudioEncoderInput() override;

    static bool supports(const std::optional<AudioOutputSettings>& settings);

    bool append(const SampleBuffer& buffer) override;
    void open() override;

protected:
    void encode(const SampleBuffer& buffer) override;
    void flush() override;

private:
    void configureResampler(const SampleBuffer::AudioFormat& format);
    void writeSilence(long long frames);
    void drain(bool all);

    std::optional<AudioOutputSettings> settings_;
    int channels_ = 2;
    SwrContext* resampler_ = nullptr;
    std::optional<SampleBuffer::AudioFormat> sourceFormat_;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    long long nextSample_ = 0;    // track position of the next sample put in the fifo
    long long encodedSample_ = 0; // track position of the fifo's first sample
};

}  // namespace platform
