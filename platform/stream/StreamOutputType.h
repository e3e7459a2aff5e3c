#pragma once

namespace platform {

// What an output of a stream receives.
enum class StreamOutputType { screen, audio, microphone };

const char* streamOutputTypeName(StreamOutputType type);

}  // namespace platform
