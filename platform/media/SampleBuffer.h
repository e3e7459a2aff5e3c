#pragma once

#include "platform/core/Bitmap.h"
#include "platform/media/MediaTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Layout of interleaved PCM samples.
enum class AudioSampleFormat { float32, int16 };

// One unit the stream delivers: a video frame (a BGRA bitmap) or a run of interleaved PCM audio,
// each with its presentation time. Copies share the pixels and the samples, so handing a buffer
// from a capture thread to an encoder thread never copies media.
class SampleBuffer {
public:
    struct AudioFormat {
        AudioSampleFormat sampleFormat = AudioSampleFormat::float32;
        int sampleRate = 48000;
        int channelCount = 2;

        int bytesPerFrame() const { return channelCount * (sampleFormat == AudioSampleFormat::float32 ? 4 : 2); }
        friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
    };

    SampleBuffer() = default;  // an empty buffer: data not ready, no image, no audio

    // A video frame. A null image gives a frame without an image buffer (the stream sends those
    // when nothing changed or the grab failed); it is still "ready".
    static SampleBuffer video(BitmapRef image, MediaTime presentationTime);
    // Audio: bytes holds whole frames of the given format; a trailing partial frame is ignored.
    static SampleBuffer audio(std::vector<std::uint8_t> bytes, AudioFormat format, MediaTime presentationTime);
    static SampleBuffer audio(std::shared_ptr<const std::vector<std::uint8_t>> bytes, AudioFormat format,
                              MediaTime presentationTime);

    bool dataIsReady() const { return ready_; }
    bool isVideo() const { return kind_ == Kind::video; }
    bool isAudio() const { return kind_ == Kind::audio; }

    // The frame's pixels; null for audio and for frames without an image.
    const BitmapRef& imageBuffer() const { return image_; }
    MediaTime presentationTimeStamp() const { return pts_; }

    const AudioFormat& audioFormat() const { return format_; }
    const std::uint8_t* audioData() const { return bytes_ ? bytes_->data() : nullptr; }
    // Whole audio frames (one sample per channel) in the buffer.
    int audioFrameCount() const;

private:
    enum class Kind { none, video, audio };
    Kind kind_ = Kind::none;
    bool ready_ = false;
    BitmapRef image_;
    MediaTime pts_ = MediaTime::invalid();
    AudioFormat format_;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

}  // namespace platform
