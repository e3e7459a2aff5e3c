#pragma once

#include <string>
#include <vector>

namespace platform {

// Rewrites a fragmented movie as a regular one (one index at the end), copying the packets.
struct MovieRemuxer {
    // Writes destination ("mov" or "mp4" format), which must not exist; throws PlatformError and
    // leaves no destination on failure.
    //
    // A fragmented file cannot say where a track's presentation starts, so its writer shifted each
    // track to start decoding at zero. Here each track is moved back: by the reordering delay of its
    // first packet, and by primingSeconds[track] (encoder delay, e.g. AAC's priming samples), so
    // the regular movie's edit lists start every track at zero again.
    static void remux(const std::string& source, const std::string& destination, const char* formatName,
                      const std::vector<double>& primingSeconds);
};

}  // namespace platform
