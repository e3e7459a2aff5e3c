#include "packages/webp/WebpEncoderConfig.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>

using webp::WebpEncoderConfig;
using Preset = WebpEncoderConfig::Preset;
using Hint = WebpEncoderConfig::WebpImageHint;

namespace {

std::array<std::int32_t, 29> words(const WebPConfig& c) {
    static_assert(sizeof(WebPConfig) == 29 * 4);
    std::array<std::int32_t, 29> w;
    std::memcpy(w.data(), &c, sizeof c);
    return w;
}

WebPConfig libraryPreset(WebPPreset p, float quality) {
    WebPConfig c;
    WebPConfigPreset(&c, p, quality);
    return c;
}

}  // namespace

TEST(WebpEncoderConfig, PresetsAreTheLibrarysInOrder) {
    const std::pair<Preset, WebPPreset> presets[] = {
        {Preset::default_, WEBP_PRESET_DEFAULT}, {Preset::picture, WEBP_PRESET_PICTURE},
        {Preset::photo, WEBP_PRESET_PHOTO},      {Preset::drawing, WEBP_PRESET_DRAWING},
        {Preset::icon, WEBP_PRESET_ICON},        {Preset::text, WEBP_PRESET_TEXT},
    };
    for (auto [ours, theirs] : presets) {
        SCOPED_TRACE(static_cast<int>(ours));
        EXPECT_EQ(words(WebpEncoderConfig::preset(ours, 63).rawValue()), words(libraryPreset(theirs, 63)));
        EXPECT_EQ(words(webp::webPConfig(ours, 63)), words(libraryPreset(theirs, 63)));
    }
}

TEST(WebpEncoderConfig, PicturePresetAtNinetyReachesTheRecord) {
    const auto config = WebpEncoderConfig::preset(Preset::picture, 90);
    EXPECT_EQ(config.quality, 90.0f);
    EXPECT_EQ(config.imageHint, Hint::default_);
    EXPECT_EQ(config.lossless, 0);
    // What the library's picture preset changes from its defaults.
    EXPECT_EQ(config.snsStrength, 80);
    EXPECT_EQ(config.filterSharpness, 4);
    EXPECT_EQ(config.filterStrength, 35);
    EXPECT_EQ(config.method, 4);
    EXPECT_EQ(config.threadLevel, 0);
    const WebPConfig raw = config.rawValue();
    EXPECT_EQ(raw.quality, 90.0f);
    EXPECT_TRUE(WebPValidateConfig(&raw));
    // An out-of-range quality is passed on for validation to refuse.
    const WebPConfig tooHigh = WebpEncoderConfig::preset(Preset::picture, 101).rawValue();
    EXPECT_EQ(tooHigh.quality, 101.0f);
    EXPECT_FALSE(WebPValidateConfig(&tooHigh));
}

TEST(WebpEncoderConfig, FieldsTravelByNameBothWays) {
    WebpEncoderConfig c;
    std::int64_t next = 1;
    for (std::int64_t* f : {&c.lossless, &c.method, &c.targetSize, &c.segments, &c.snsStrength, &c.filterStrength,
                            &c.filterSharpness, &c.filterType, &c.autofilter, &c.alphaCompression, &c.alphaFiltering,
                            &c.alphaQuality, &c.pass, &c.preprocessing, &c.partitions, &c.partitionLimit,
                            &c.threadLevel, &c.nearLossless, &c.exact, &c.qmin, &c.qmax})
        *f = 100 + next++;
    c.quality = 12.5f;
    c.targetPSNR = 42.25f;
    c.imageHint = Hint::graph;
    c.showCompressed = true;
    c.emulateJpegSize = false;
    c.lowMemory = true;
    c.useDeltaPalette = true;
    c.useSharpYUV = false;

    const WebPConfig raw = c.rawValue();
    EXPECT_EQ(raw.qmin, 120);
    EXPECT_EQ(raw.qmax, 121);
    EXPECT_EQ(raw.exact, 119);
    EXPECT_EQ(raw.image_hint, WEBP_HINT_GRAPH);
    const auto w = words(raw);
    EXPECT_EQ(w[25], 1) << "use_delta_palette is the 26th library value";
    EXPECT_EQ(w[26], 0) << "use_sharp_yuv is the 27th";
    EXPECT_EQ(w[27], 120) << "qmin lands in library position 28";
    EXPECT_EQ(w[16], 1) << "show_compressed";
    EXPECT_EQ(w[22], 1) << "low_memory";

    const auto back = WebpEncoderConfig::fromRawValue(raw);
    ASSERT_TRUE(back);
    EXPECT_EQ(words(back->rawValue()), w);
    EXPECT_EQ(back->partitionLimit, c.partitionLimit);
    EXPECT_EQ(back->targetPSNR, 42.25f);
    EXPECT_TRUE(back->useDeltaPalette);
    EXPECT_TRUE(back->lowMemory);
    EXPECT_FALSE(back->useSharpYUV);
}

TEST(WebpEncoderConfig, UnknownImageHintGivesNoConfig) {
    WebPConfig raw = WebpEncoderConfig::preset(Preset::photo, 50).rawValue();
    raw.image_hint = static_cast<WebPImageHint>(4);
    EXPECT_FALSE(WebpEncoderConfig::fromRawValue(raw));
    const int minusOne = -1;
    std::memcpy(&raw.image_hint, &minusOne, sizeof minusOne);
    EXPECT_FALSE(WebpEncoderConfig::fromRawValue(raw));
    raw.image_hint = WEBP_HINT_PHOTO;
    ASSERT_TRUE(WebpEncoderConfig::fromRawValue(raw));
    EXPECT_EQ(WebpEncoderConfig::fromRawValue(raw)->imageHint, Hint::photo);
    // A library boolean reads as true for any non-zero value.
    raw.use_sharp_yuv = 7;
    EXPECT_TRUE(WebpEncoderConfig::fromRawValue(raw)->useSharpYUV);
    static_assert(webp::webpImageHintLiteral(3) == WEBP_HINT_GRAPH);
}

TEST(WebpEncoderConfig, IntegersBeyondThirtyTwoBitsNeverWrapIntoValidValues) {
    auto c = WebpEncoderConfig::preset(Preset::picture, 90);
    EXPECT_TRUE(c.fitsRawValue());
    c.method = (std::int64_t{1} << 32) + 4;  // would wrap to the valid method 4
    c.qmin = -(std::int64_t{1} << 33);
    EXPECT_FALSE(c.fitsRawValue());
    const WebPConfig raw = c.rawValue();
    EXPECT_EQ(raw.method, INT_MAX);
    EXPECT_EQ(raw.qmin, INT_MIN);
    EXPECT_FALSE(WebPValidateConfig(&raw));
}
