#include "packages/webp/WebPEncoderError.h"

namespace webp {

namespace {
struct Text {
    const char* name;
    const char* message;
};
// No localised messages: the description is the generic one naming the type and code.
constexpr Text texts[] = {
    {"invalidParameter", "The operation couldn\u2019t be completed. (webp.WebPEncoderError error 0.)"},
    {"versionMismatched", "The operation couldn\u2019t be completed. (webp.WebPEncoderError error 1.)"},
    {"encodingImageError", "The operation couldn\u2019t be completed. (webp.WebPEncoderError error 2.)"},
};
}  // namespace

WebPEncoderError::WebPEncoderError(WebPEncoderErrorCase c)
    : EnumError(c, texts[static_cast<int>(c)].name, texts[static_cast<int>(c)].message) {}

}  // namespace webp
