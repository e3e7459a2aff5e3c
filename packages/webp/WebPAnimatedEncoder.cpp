#include "packages/webp/WebPAnimatedEncoder.h"

#include "packages/webp/ConvertUIImageToCGImageWithRGBA.h"
#include "packages/webp/InterfaceVersion.h"
#include "packages/webp/Narrow.h"
#include "packages/webp/ScopedPicture.h"
#include "packages/webp/WebPAnimatedEncoderError.h"
#include "packages/webp/WebPAnimatedEncoderStateError.h"
#include "packages/webp/WebPEncodeStatusCode.h"
#include "packages/webp/WebPEncoderError.h"

namespace webp {

namespace {

// Releases assembled bytes unless they were handed on.
struct ScopedWebPData {
    WebPData data{};
    ~ScopedWebPData() { WebPDataClear(&data); }
    Data release() {
        const WebPData handed = data;
        data = WebPData{};
        return Data::adopt(const_cast<std::uint8_t*>(handed.bytes), handed.size);
    }
};

struct ScopedMux {
    WebPMux* mux;
    ~ScopedMux() { WebPMuxDelete(mux); }
};

void setLoopCount(WebPData& data, int loopCount) {
    ScopedMux m{WebPMuxCreateInternal(&data, 1, muxInterfaceVersion)};
    if (!m.mux)
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    std::uint32_t flags = 0;
    WebPMuxAnimParams params{};
    if (WebPMuxGetFeatures(m.mux, &flags) != WEBP_MUX_OK)
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    // A single frame is assembled as a still image, which has no loop count to set.
    if (!(flags & ANIMATION_FLAG))
        return;
    if (WebPMuxGetAnimationParams(m.mux, &params) != WEBP_MUX_OK)
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    params.loop_count = loopCount;
    if (WebPMuxSetAnimationParams(m.mux, &params) != WEBP_MUX_OK)
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    WebPDataClear(&data);
    if (WebPMuxAssemble(m.mux, &data) != WEBP_MUX_OK)
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
}

}  // namespace

WebPAnimatedEncoder::WebPAnimatedEncoder() : config_(WebpEncoderConfig::preset(WebpEncoderConfig::Preset::picture, 80)) {}

WebPAnimatedEncoder::~WebPAnimatedEncoder() { reset(); }

void WebPAnimatedEncoder::reset() {
    WebPAnimEncoderDelete(encoder_);
    encoder_ = nullptr;
    timestamp_ = 0;
    opts_ = WebPAnimEncoderOptions{};
    animConfig_ = WebPAnimEncoderOptions{};
}

void WebPAnimatedEncoder::create(const WebpEncoderConfig& config, std::int64_t width, std::int64_t height) {
    reset();
    config_ = config;
    // A canvas that does not fit 32 bits is refused like any the library refuses.
    if (!fits32(width) || !fits32(height))
        throw WebPAnimatedEncoderError();
    originWidth_ = static_cast<int>(width);
    originHeight_ = static_cast<int>(height);
    const WebPAnimEncoderOptions zeroed{};
    encoder_ = WebPAnimEncoderNewInternal(originWidth_, originHeight_, &zeroed, muxInterfaceVersion);
    if (!encoder_)
        throw WebPAnimatedEncoderError();
}

void WebPAnimatedEncoder::addImage(const platform::Image& image, std::int64_t duration) {
    if (!encoder_)
        throw WebPAnimatedEncoderStateError();
    ScopedPicture picture;
    if (!picture.init())
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    const platform::BitmapRef redrawn = convertUIImageToCGImageWithRGBA(image);
    // The file stores straight alpha; importing the premultiplied redraw as it is would darken
    // every translucent pixel.
    const QImage straight = redrawn->asQImage().convertToFormat(QImage::Format_RGBA8888);
    picture->use_argb = config_.lossless != 0 ? 1 : 0;
    picture->width = straight.width();
    picture->height = straight.height();
    if (!WebPPictureImportRGBA(picture.get(), straight.constBits(), static_cast<int>(straight.bytesPerLine())))
        throw WebPEncoderError(WebPEncoderErrorCase::versionMismatched);
    if ((picture->width != originWidth_ || picture->height != originHeight_) &&
        !WebPPictureRescale(picture.get(), originWidth_, originHeight_))
        throw WebPEncodeStatusCode(WebPEncodeStatus::outOfMemory);
    // Checked before the frame goes in, so a refused duration leaves the animation as it was. A
    // negative one would take the clock back, and the library then refuses every later frame
    // and the closing one, losing the frames already added.
    if (duration < 0 || !fits32(duration) || !fits32(static_cast<std::int64_t>(timestamp_) + duration) ||
        !config_.fitsRawValue())
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    const WebPConfig raw = config_.rawValue();
    if (!WebPAnimEncoderAdd(encoder_, picture.get(), timestamp_, &raw))
        throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
    timestamp_ += static_cast<int>(duration);
}

Data WebPAnimatedEncoder::encode(std::int64_t loopCount) {
    if (!encoder_)
        throw WebPAnimatedEncoderStateError();
    if (!WebPAnimEncoderAdd(encoder_, nullptr, timestamp_, nullptr))
        throw WebPEncoderError(WebPEncoderErrorCase::encodingImageError);
    ScopedWebPData assembled;
    if (!WebPAnimEncoderAssemble(encoder_, &assembled.data))
        throw WebPEncoderError(WebPEncoderErrorCase::encodingImageError);
    reset();
    if (loopCount >= 1) {
        if (!fits32(loopCount))
            throw WebPEncoderError(WebPEncoderErrorCase::invalidParameter);
        setLoopCount(assembled.data, static_cast<int>(loopCount));
    }
    return assembled.release();
}

}  // namespace webp
