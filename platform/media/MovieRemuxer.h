#pragma once

#include "platform/media/MediaTime.h"

#include <string>
#include <vector>

namespace platform {

// Rewrites a fragmented movie as a regular one (one index at the end), copying the packets.
struct MovieRemuxer {
    // Where the writer placed a track's first two packets (decode times on the movie's time line).
    struct TrackStart {
        MediaTime first = MediaTime::invalid();
        MediaTime second = MediaTime::invalid();
    };

    // Writes destination ("mov" or "mp4" format), which must not exist; throws PlatformError and
    // leaves no destination on failure.
    //
    // A fragmented movie whose index was written before its first packet cannot say where a track
    // starts: its writer moved the first packet of each track to zero (stretching it) and shifted
    // the rest of every track by one amount. Each track is put back where its writer placed it
    // (starts[track], where valid): the first packet at its own time, the others by the second's.
    // The regular movie's edit lists then say what the encoders did (the reordering delay of the
    // pictures, AAC's priming), and every track keeps the timing it had while it was recorded.
    static void remux(const std::string& source, const std::string& destination, const char* formatName,
                      const std::vector<TrackStart>& starts);
};

}  // namespace platform
