#pragma once

#include "platform/media/EncoderInput.h"

struct SwsContext;

namespace platform {

// Video track: BGRA frames converted to 4:2:0 with libswscale and encoded with libx264 or libx265
// at a constant frame rate (frame times rounded to the nearest frame slot).
class VideoEncoderInput : public EncoderInput {
public:
    // Frames waiting for the encoder: a quarter second at 60 fps rides out an encoder's stalls;
    // at large sizes fewer, so the frames held stay under about 160 MB.
    static std::size_t queueCapacity(long long width, long long height);

    VideoEncoderInput(std::shared_ptr<MovieMuxer> muxer, const VideoOutputSettings& settings);
    ~VideoEncoderInput() override;

    // Whether this machine can encode these settings at all (codec present, size in range).
    static bool supports(const VideoOutputSettings& settings);

    // The frame slot (frames since the session start) for a frame at `position` slots, given the
    // last slot used; -1 drops the frame. A frame close to the next free slot takes it even when
    // capture jitter puts it nearer another, so one late frame does not cost two slots; no frame
    // lands more than 0.7 of a frame away from its time, so nothing drifts.
    static long long frameSlot(double position, long long lastSlot);

    bool append(const SampleBuffer& buffer) override;
    bool appendFrame(const BitmapRef& frame, MediaTime presentationTime);
    void open() override;

    // The pixel size actually encoded: 4:2:0 needs even sizes, so an odd edge loses one pixel.
    int encodedWidth() const { return width_; }
    int encodedHeight() const { return height_; }

protected:
    void encode(const SampleBuffer& buffer) override;
    void flush() override;

private:
    AVFrame* writableFrame();
    void scale(const Bitmap& image, AVFrame* frame);

    VideoOutputSettings settings_;
    int width_;
    int height_;
    int fps_;
    SwsContext* scaler_ = nullptr;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    AVFrame* frames_[2] = {nullptr, nullptr};
    long long lastSlot_ = -1;
    long long lastKeySlot_ = -1;
};

}  // namespace platform
