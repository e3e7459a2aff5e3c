#pragma once

#include "platform/media/EncoderInput.h"

#include <cstdint>
#include <optional>

struct SwrContext;
struct AVAudioFifo;

namespace platform {

// Audio track: interleaved PCM resampled with libswresample and encoded as AAC, or stored as
// 32-bit float PCM when no settings are given and the container holds PCM (QuickTime). MPEG-4
// holds no PCM, so there it is AAC either way.
//
// The track's time line starts at the session start, and every sample stays within a
// millisecond or so of the time it was stamped with: a gap in the delivered audio becomes silence,
// an overlap is cut, and a slow drift (a sound card's clock) is taken up by stretching or
// squeezing the sound imperceptibly. Sound that ends before the picture is filled with silence.
class AudioEncoderInput : public EncoderInput {
public:
    static constexpr std::size_t queueCapacity = 64;
    static constexpr int sampleRate = 48000;

    AudioEncoderInput(std::shared_ptr<MovieMuxer> muxer, std::optional<AudioOutputSettings> settings);
    ~AudioEncoderInput() override;

    static bool supports(const std::optional<AudioOutputSettings>& settings);

    bool append(const SampleBuffer& buffer) override;
    void openEncoder() override;

protected:
    void encode(const Sample& sample) override;
    void flush() override;

private:
    void configureResampler(const SampleBuffer::AudioFormat& format);
    void compensate(long long late);
    void append(std::uint8_t* const* samples, int count, long long skip);
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
    long long compensation_ = 0;  // samples the resampler is currently stretching by
};

}  // namespace platform
