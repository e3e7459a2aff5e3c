#include "packages/webp/WebPDecoder.h"

#include "packages/webp/WebPError.h"
#include "packages/webp/WebpDecoderConfig.h"
#include "packages/webp/WebpDecodingError.h"
#include "packages/webp/WebpImageInspector.h"
#include "packages/webp/WebpRGBAMultiplier.h"

#include "platform/core/Error.h"

namespace webp {

namespace {

// Decodes into library-owned memory; on failure nothing stays allocated.
WebPDecBuffer decodeInto(ColorspaceMode mode, std::span<const std::uint8_t> data, const WebpDecoderOptions& options) {
    WebpDecoderConfig config;
    config.output.colorspace = mode;
    config.options = options;
    WebPDecoderConfig raw = config.rawValue();
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &raw);
    if (status != VP8_STATUS_OK) {
        WebPFreeDecBuffer(&raw.output);
        throw WebpDecodingError::fromStatus(static_cast<std::uint32_t>(status));
    }
    return raw.output;
}

WebpYUVAPlanes::Plane plane(const std::uint8_t* bytes, int stride, std::size_t size) {
    return {bytes, stride, bytes ? size : 0};
}

}  // namespace

Data WebPDecoder::decodeRGB(ColorspaceMode mode, std::span<const std::uint8_t> data,
                            const WebpDecoderOptions& options, int* width, int* height) {
    WebPDecBuffer raw = decodeInto(mode, data, options);
    const auto output = WebpDecBuffer::fromRawValue(raw);
    const auto* rgba = output ? std::get_if<WebPRGBABuffer>(&output->u) : nullptr;
    if (!rgba) {
        WebPFreeDecBuffer(&raw);
        throw WebPError::unexpectedError("please use yuva");
    }
    if (width)
        *width = raw.width;
    if (height)
        *height = raw.height;
    return Data::adopt(raw.private_memory, rgba->rgba, rgba->size);
}

WebpYUVAPlanes WebPDecoder::decodeYUV(ColorspaceMode mode, std::span<const std::uint8_t> data,
                                      const WebpDecoderOptions& options) {
    WebPDecBuffer raw = decodeInto(mode, data, options);
    const WebPYUVABuffer& yuva = raw.u.YUVA;
    WebpYUVAPlanes planes;
    planes.width = raw.width;
    planes.height = raw.height;
    planes.y = plane(yuva.y, yuva.y_stride, yuva.y_size);
    planes.u = plane(yuva.u, yuva.u_stride, yuva.u_size);
    planes.v = plane(yuva.v, yuva.v_stride, yuva.v_size);
    planes.a = plane(yuva.a, yuva.a_stride, yuva.a_size);
    planes.memory = Data::adopt(raw.private_memory, raw.private_memory,
                                yuva.y_size + yuva.u_size + yuva.v_size + yuva.a_size);
    return planes;
}

Data WebPDecoder::decode(DecodeByTag<ColorspaceMode::BGR>, std::span<const std::uint8_t> data,
                         const WebpDecoderOptions& options, std::int64_t, std::int64_t) const {
    return decodeRGB(ColorspaceMode::BGR, data, options);
}

WebpYUVAPlanes WebPDecoder::decode(DecodeByTag<ColorspaceMode::YUV>, std::span<const std::uint8_t> data,
                                   const WebpDecoderOptions& options) const {
    return decodeYUV(ColorspaceMode::YUV, data, options);
}

WebpYUVAPlanes WebPDecoder::decode(DecodeByTag<ColorspaceMode::YUVA>, std::span<const std::uint8_t> data,
                                   const WebpDecoderOptions& options) const {
    return decodeYUV(ColorspaceMode::YUVA, data, options);
}

platform::BitmapRef WebPDecoder::decode(std::span<const std::uint8_t> data, const WebpDecoderOptions& options) const {
    WebpImageInspector::inspect(data);
    // The size comes from what was decoded: with cropping or a scale of 0 on one side the
    // bitstream's or the requested size would not describe the buffer.
    int width = 0;
    int height = 0;
    const Data pixels = decodeRGB(ColorspaceMode::RGBA, data, options, &width, &height);
    const auto premultiplied = WebpRGBAMultiplier::premultiply(pixels, width, height);
    if (!premultiplied)
        throw WebPError::unexpectedError("Couldn't create required RGBA");
    try {
        const Data keep = *premultiplied;
        return platform::Bitmap::wrap(width, height, width * 4, platform::PixelFormat::RGBA,
                                      platform::AlphaMode::premultiplied, keep.data(), [keep] {});
    } catch (const platform::PlatformError&) {
        throw WebPError::unexpectedError("Couldn't initialize CGImage");
    }
}

platform::Image WebPDecoder::decode(ToImageTag, std::span<const std::uint8_t> data,
                                    const WebpDecoderOptions& options) const {
    return platform::Image(decode(data, options));
}

}  // namespace webp
