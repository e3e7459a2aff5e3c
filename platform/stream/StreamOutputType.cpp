#include "platform/stream/StreamOutputType.h"

namespace platform {

const char* streamOutputTypeName(StreamOutputType type) {
    switch (type) {
    case StreamOutputType::screen:
        return "screen";
    case StreamOutputType::audio:
        return "audio";
    case StreamOutputType::microphone:
        return "microphone";
    }
    return "unknown";
}

}  // namespace platform
