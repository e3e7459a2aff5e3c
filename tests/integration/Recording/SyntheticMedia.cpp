#include "SyntheticMedia.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace SyntheticMedia {

platform::BitmapRef frame(int width, int height, int index) {
    int stride = width * 4;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * height);
    int bar = (index * 8) % std::max(width, 1);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = px.data() + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            bool inBar = x >= bar && x < bar + 16;
            row[x * 4 + 0] = inBar ? 255 : static_cast<std::uint8_t>(x);
            row[x * 4 + 1] = inBar ? 255 : static_cast<std::uint8_t>(y);
            row[x * 4 + 2] = inBar ? 255 : 64;
            row[x * 4 + 3] = 255;
        }
    }
    return platform::Bitmap::create(width, height, stride, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                    std::move(px));
}

platform::SampleBuffer tone(platform::AudioSampleFormat format, int frames, long long firstFrame,
                            platform::MediaTime presentationTime) {
    platform::SampleBuffer::AudioFormat f;
    f.sampleFormat = format;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * f.bytesPerFrame());
    for (int i = 0; i < frames; ++i) {
        double v = 0.5 * std::sin(2 * M_PI * 440.0 * double(firstFrame + i) / 48000.0);
        for (int c = 0; c < 2; ++c) {
            if (format == platform::AudioSampleFormat::float32) {
                float s = static_cast<float>(v);
                std::memcpy(bytes.data() + (i * 2 + c) * 4, &s, 4);
            } else {
                auto s = static_cast<std::int16_t>(v * 32767);
                std::memcpy(bytes.data() + (i * 2 + c) * 2, &s, 2);
            }
        }
    }
    return platform::SampleBuffer::audio(std::move(bytes), f, presentationTime);
}

}  // namespace SyntheticMedia
