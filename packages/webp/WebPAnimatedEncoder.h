#pragma once

#include "packages/webp/Data.h"
#include "packages/webp/WebpEncoderConfig.h"

#include "platform/core/Image.h"

#include <webp/mux.h>

#include <cstdint>

namespace webp {

// Builds one animated WebP from frames shown for given durations (the library's unit,
// milliseconds). create() opens an animation, addImage() appends frames, encode() closes it and
// returns the file; a new animation needs a new create().
class WebPAnimatedEncoder {
public:
    WebPAnimatedEncoder();
    ~WebPAnimatedEncoder();
    WebPAnimatedEncoder(const WebPAnimatedEncoder&) = delete;
    WebPAnimatedEncoder& operator=(const WebPAnimatedEncoder&) = delete;

    // Discards any animation under way. Throws WebPAnimatedEncoderError when the library refuses.
    void create(const WebpEncoderConfig& config, std::int64_t width, std::int64_t height);
    // The frame is rescaled to the canvas when its size differs. A negative duration is refused.
    // After a failure the frame is not part of the animation and the animation stays open.
    void addImage(const platform::Image& image, std::int64_t duration);
    // A loop count of 1 or more is written into the file; otherwise it loops forever.
    Data encode(std::int64_t loopCount);

private:
    void reset();

    WebPAnimEncoder* encoder_ = nullptr;
    WebPAnimEncoderOptions opts_{};
    WebPAnimEncoderOptions animConfig_{};
    WebpEncoderConfig config_;
    int timestamp_ = 0;
    int originWidth_ = 0;
    int originHeight_ = 0;
};

}  // namespace webp
