#include "platform/media/MediaTime.h"

#include <cmath>

namespace platform {

namespace {

// a * b / c rounded to nearest, without overflowing for nanosecond values of long recordings.
std::int64_t scale(std::int64_t a, std::int64_t b, std::int64_t c) {
    __int128 p = static_cast<__int128>(a) * b;
    __int128 half = c / 2;
    return static_cast<std::int64_t>(p >= 0 ? (p + half) / c : (p - half) / c);
}

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale) {
    return make(static_cast<std::int64_t>(std::llround(seconds * timescale)), timescale);
}

double MediaTime::seconds() const {
    if (!isValid())
        return 0.0;
    return static_cast<double>(value) / timescale;
}

std::int64_t MediaTime::rescaled(std::int32_t toTimescale) const {
    if (!isValid())
        return 0;
    return scale(value, toTimescale, timescale);
}

int MediaTime::compare(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid() ? 0 : (a.isValid() ? -1 : 1);
    __int128 l = static_cast<__int128>(a.value) * b.timescale;
    __int128 r = static_cast<__int128>(b.value) * a.timescale;
    return l < r ? -1 : (l > r ? 1 : 0);
}

MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid())
        return MediaTime::invalid();
    if (a.timescale == b.timescale)
        return MediaTime::make(a.value - b.value, a.timescale);
    return MediaTime::make(a.rescaled(MediaTime::nanosecondScale) - b.rescaled(MediaTime::nanosecondScale),
                           MediaTime::nanosecondScale);
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid())
        return MediaTime::invalid();
    if (a.timescale == b.timescale)
        return MediaTime::make(a.value + b.value, a.timescale);
    return MediaTime::make(a.rescaled(MediaTime::nanosecondScale) + b.rescaled(MediaTime::nanosecondScale),
                           MediaTime::nanosecondScale);
}

}  // namespace platform
