#pragma once

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace webp {

// Interface versions the package is written against; every versioned library entry point gets
// these, and the build refuses headers of another library generation.
inline constexpr int encoderInterfaceVersion = 0x20F;
inline constexpr int decoderInterfaceVersion = 0x209;
inline constexpr int muxInterfaceVersion = 0x108;

static_assert(encoderInterfaceVersion == WEBP_ENCODER_ABI_VERSION, "libwebp encoder interface changed");
static_assert(decoderInterfaceVersion == WEBP_DECODER_ABI_VERSION, "libwebp decoder interface changed");
static_assert(muxInterfaceVersion == WEBP_MUX_ABI_VERSION, "libwebpmux interface changed");

}  // namespace webp
