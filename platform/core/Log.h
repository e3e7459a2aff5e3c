#pragma once

#include <string_view>

namespace platform {

// Writes one line to standard output and flushes it. Safe from any thread; lines never interleave.
void logLine(std::string_view line);

}  // namespace platform
