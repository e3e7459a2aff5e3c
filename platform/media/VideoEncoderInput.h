#pragma once

#include "platform/media/EncoderInput.h"

#include <atomic>
#include <mutex>
#include <vector>

struct SwsContext;

namespace platform {

// Video track: BGRA frames converted to 4:2:0 and encoded with libx264 or libx265 at a constant frame
// rate (frame times rounded to the nearest frame slot).
//
// A frame is converted as it is appended, on the caller's thread, so what waits for the encoder is
// the smaller converted frame and the caller's pixels (a screen grab's shared memory) go back at
// once: a grab never has to make new shared memory because frames wait for the encoder.
class VideoEncoderInput : public EncoderInput {
public:
    // Frames waiting for the encoder: up to a quarter second at 60 fps rides out an encoder's
    // stalls; at large sizes fewer, so the frames held stay under about 30 MB (nine at 1080p).
    static std::size_t queueCapacity(long long width, long long height);

    VideoEncoderInput(std::shared_ptr<MovieMuxer> muxer, const VideoOutputSettings& settings);
    ~VideoEncoderInput() override;

    // Whether this machine can encode these settings at all (codec present, size in range).
    static bool supports(const VideoOutputSettings& settings);

    // The frame slot (frames since the session start) for a frame at `position` slots, given the
    // last slot used; -1 drops the frame. A frame close to the next free slot takes it even when
    // capture jitter puts it nearer another: one that comes late (by less than a frame) takes it,
    // so a late grab leaves no hole in the movie and costs the frame after it nothing; one that
    // comes early takes it only within 0.7 of a frame, so a capture faster than the movie's rate
    // drops frames instead of drifting.
    static long long frameSlot(double position, long long lastSlot);

    bool append(const SampleBuffer& buffer) override;
    bool appendFrame(const BitmapRef& frame, MediaTime presentationTime);
    void openEncoder() override;

    // The pixel size actually encoded: 4:2:0 needs even sizes, so an odd edge loses one pixel.
    int encodedWidth() const { return width_; }
    int encodedHeight() const { return height_; }
    // Frames appended that the movie does not show: their slot was taken.
    long long framesLeftOut() const { return leftOut_; }

protected:
    void encode(const Sample& sample) override;
    void flush() override;

private:
    // A frame of the encoder's size and format, from those the encoder has done with.
    std::shared_ptr<AVFrame> takeFrame();
    void convert(const Bitmap& image, AVFrame* frame);
    void scale(const Bitmap& image, AVFrame* frame);

    VideoOutputSettings settings_;
    int width_;
    int height_;
    int fps_;
    std::atomic<long long> leftOut_{0};
    SwsContext* scaler_ = nullptr;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    // Converted frames kept for reuse: enough for the encoder keeping up; more, after a backlog,
    // are let go.
    static constexpr std::size_t keptFrames = 3;
    std::mutex spareMutex_;
    std::vector<AVFrame*> spare_;
    long long lastSlot_ = -1;
    long long lastKeySlot_ = -1;
};

}  // namespace platform
