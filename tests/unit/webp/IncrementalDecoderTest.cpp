#include "WebpTestPixels.h"

#include "packages/webp/WebPEncoder.h"
#include "packages/webp/WebpIncrementalDecoder.h"
#include "packages/webp/WebpRGBAMultiplier.h"

#include "platform/core/Error.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace webptest;
using webp::WebpEncoderConfig;
using webp::WebpIncrementalDecoder;
using webp::WebpRGBAMultiplier;

namespace {

void expectSpecialError(WebpIncrementalDecoder& dec, std::span<const std::uint8_t> data, const std::string& text) {
    try {
        dec.incremetallyDecodeData(data);
        ADD_FAILURE() << "no error";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.domain(), "WebpSpecialDecoder");
        EXPECT_EQ(e.code(), 500);
        EXPECT_EQ(e.description(), text);
    }
}

std::vector<std::uint8_t> pixelsOf(const platform::Image& image) {
    const platform::Bitmap& b = *image.bitmap();
    std::vector<std::uint8_t> out;
    for (int y = 0; y < b.height(); ++y)
        out.insert(out.end(), b.row(y), b.row(y) + b.width() * 4);
    return out;
}

}  // namespace

TEST(WebpIncrementalDecoder, GrowingSlicesEndInTheFullPicture) {
    const int w = 96, h = 80;
    const webp::Data file = encodeRGBA(rgbaGradient(w, h), w, h, false);
    WebpIncrementalDecoder dec;

    // The file header alone decodes nothing yet, and is no error.
    std::vector<std::uint8_t> header(file.data(), file.data() + 20);
    EXPECT_FALSE(dec.incremetallyDecodeData(header).image);

    bool sawPartial = false;
    for (std::size_t n = 64; n < file.size(); n += file.size() / 7) {
        // Each call gets a fresh buffer and the previous one is gone, as with a growing download.
        const std::vector<std::uint8_t> received(file.data(), file.data() + n);
        const auto result = dec.incremetallyDecodeData(received);
        if (result.image) {
            sawPartial = true;
            EXPECT_EQ(result.image->size(), QSizeF(w, h));
        }
    }
    EXPECT_TRUE(sawPartial) << "some rows show before the file is complete";

    const std::vector<std::uint8_t> whole(file.data(), file.data() + file.size());
    const auto result = dec.incremetallyDecodeData(whole);
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image->size(), QSizeF(w, h));
    EXPECT_EQ(result.image->bitmap()->alpha(), platform::AlphaMode::straight);
    EXPECT_EQ(pixelsOf(*result.image), libraryDecode(file).rgba);
}

TEST(WebpIncrementalDecoder, BadInputGivesSpecialDecoderErrors) {
    std::vector<std::uint8_t> garbage(256);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 97 + 13);
    WebpIncrementalDecoder dec;
    expectSpecialError(dec, garbage, "An error has occured with code: 3");

    // Data that shrinks between calls cannot be the same file.
    const webp::Data file = encodeRGBA(rgbaGradient(64, 64), 64, 64, false);
    WebpIncrementalDecoder second;
    const std::vector<std::uint8_t> most(file.data(), file.data() + file.size() * 3 / 4);
    second.incremetallyDecodeData(most);
    const std::vector<std::uint8_t> less(file.data(), file.data() + file.size() / 2);
    expectSpecialError(second, less, "An error has occured with code: 2");
}

TEST(WebpRGBAMultiplier, EdgeValues) {
    const std::uint8_t in[] = {255, 0, 0, 128, 255, 255, 255, 0, 200, 100, 50, 255, 1, 1, 1, 1};
    std::uint8_t* pre = WebpRGBAMultiplier::premultiplyBytes(in, 2, 2);
    ASSERT_NE(pre, nullptr);
    const std::uint8_t expectedPre[] = {128, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 0, 0, 0, 1};
    EXPECT_TRUE(std::equal(expectedPre, expectedPre + 16, pre));
    std::free(pre);

    const std::uint8_t premultiplied[] = {128, 0, 0, 128, 10, 20, 30, 0, 200, 100, 50, 255, 200, 0, 1, 100};
    std::uint8_t* un = WebpRGBAMultiplier::unpremultiplyBytes(premultiplied, 4, 1);
    ASSERT_NE(un, nullptr);
    // Colour above its alpha is capped; a transparent pixel has no colour left.
    const std::uint8_t expectedUn[] = {255, 0, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255, 255, 0, 3, 100};
    EXPECT_TRUE(std::equal(expectedUn, expectedUn + 16, un));
    std::free(un);

    EXPECT_EQ(WebpRGBAMultiplier::premultiplyBytes(in, 0, 4), nullptr);
    EXPECT_EQ(WebpRGBAMultiplier::unpremultiplyBytes(in, 2, -1), nullptr);
    EXPECT_EQ(WebpRGBAMultiplier::premultiplyBytes(in, std::int64_t{1} << 40, std::int64_t{1} << 40), nullptr);
}

TEST(WebpRGBAMultiplier, UnpremultiplyThenPremultiplyRestoresEveryValidPixel) {
    // Every (colour, alpha) pair with colour <= alpha, one pixel each.
    std::vector<std::uint8_t> all;
    for (int a = 1; a <= 255; ++a)
        for (int c = 0; c <= a; ++c)
            all.insert(all.end(), {std::uint8_t(c), std::uint8_t(c), std::uint8_t(c), std::uint8_t(a)});
    const std::int64_t n = static_cast<std::int64_t>(all.size() / 4);
    auto* raw = static_cast<std::uint8_t*>(std::malloc(all.size()));
    std::copy(all.begin(), all.end(), raw);
    const webp::Data data = webp::Data::adopt(raw, all.size());
    const auto straight = WebpRGBAMultiplier::unpremultiply(data, n, 1);
    ASSERT_TRUE(straight);
    ASSERT_EQ(straight->size(), all.size());
    const auto back = WebpRGBAMultiplier::premultiply(*straight, n, 1);
    ASSERT_TRUE(back);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), back->data()));

    // Data shorter than the sizes claim is refused rather than read past.
    EXPECT_FALSE(WebpRGBAMultiplier::premultiply(data, n + 1, 1));
    EXPECT_FALSE(WebpRGBAMultiplier::unpremultiply(data, n, 2));
}
