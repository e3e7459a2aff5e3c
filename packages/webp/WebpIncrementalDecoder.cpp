#include "packages/webp/WebpIncrementalDecoder.h"

#include "packages/webp/InterfaceVersion.h"

#include "platform/core/Error.h"
#include "platform/core/Log.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace webp {

namespace {

platform::PlatformError decoderError(std::string description) {
    return platform::PlatformError("WebpSpecialDecoder", 500, std::move(description));
}

}  // namespace

WebpIncrementalDecoder::WebpIncrementalDecoder() {
    if (!WebPInitDecoderConfigInternal(&config_, decoderInterfaceVersion))
        platform::logLine("Invalid WebPVersion");
    outputBuffer_ = &config_.output;
    bitstream_ = &config_.input;
    outputBuffer_->colorspace = MODE_RGBA;
}

WebpIncrementalDecoder::~WebpIncrementalDecoder() {
    // The decoder may still write into the output buffer until it is gone.
    if (iDecoder_)
        WebPIDelete(iDecoder_);
    iDecoder_ = nullptr;
    WebPFreeDecBuffer(outputBuffer_);
}

WebpIncrementalDecoderResult WebpIncrementalDecoder::incremetallyDecodeData(std::span<const std::uint8_t> data) {
    if (!iDecoder_) {
        iDecoder_ = WebPINewDecoder(outputBuffer_);
        if (!iDecoder_)
            throw decoderError("Can't create Decoder for requested `Config`");
    }
    const VP8StatusCode status = WebPIUpdate(iDecoder_, data.data(), data.size());
    if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED) {
        char text[64];
        std::snprintf(text, sizeof text, "An error has occured with code: %d", static_cast<int>(status));
        throw decoderError(text);
    }

    int lastY = 0, width = 0, height = 0, stride = 0;
    const std::uint8_t* pixels = WebPIDecGetRGB(iDecoder_, &lastY, &width, &height, &stride);
    if (!pixels || lastY == 0 || width == 0 || height == 0 || stride == 0)
        return {};

    // The decoder keeps writing into its buffer, so the image gets its own copy of the rows.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> copy(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels + static_cast<std::size_t>(y) * stride, rowBytes, copy.data() + y * rowBytes);
    try {
        // The library's RGBA output is straight alpha; labelling it premultiplied would misdraw
        // every translucent pixel.
        auto bitmap = platform::Bitmap::create(width, height, static_cast<int>(rowBytes), platform::PixelFormat::RGBA,
                                               platform::AlphaMode::straight, std::move(copy));
        return {platform::Image(std::move(bitmap))};
    } catch (const platform::PlatformError&) {
        throw decoderError("An error has occured while decoding");
    }
}

}  // namespace webp
