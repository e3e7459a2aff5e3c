#pragma once

#include <cstdint>

namespace platform {

// A rational time stamp: value / timescale seconds. The stream stamps every sample from one
// monotonic clock in nanoseconds; the writer rescales to each encoder's own time base.
struct MediaTime {
    static constexpr std::uint32_t validFlag = 1;
    static constexpr std::int32_t nanosecondScale = 1'000'000'000;

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    std::int64_t epoch = 0;

    static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime{value, timescale, validFlag, 0};
    }
    static constexpr MediaTime zero() { return make(0, 1); }
    static constexpr MediaTime invalid() { return MediaTime{}; }
    static constexpr MediaTime fromNanoseconds(std::int64_t ns) { return make(ns, nanosecondScale); }
    static MediaTime fromSeconds(double seconds, std::int32_t timescale = nanosecondScale);

    constexpr bool isValid() const { return (flags & validFlag) != 0 && timescale > 0; }
    double seconds() const;
    // The same instant in another time base, rounded to the nearest tick.
    std::int64_t rescaled(std::int32_t toTimescale) const;

    friend bool operator==(const MediaTime& a, const MediaTime& b) { return compare(a, b) == 0; }
    friend bool operator<(const MediaTime& a, const MediaTime& b) { return compare(a, b) < 0; }
    friend bool operator<=(const MediaTime& a, const MediaTime& b) { return compare(a, b) <= 0; }
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);

private:
    static int compare(const MediaTime& a, const MediaTime& b);
};

}  // namespace platform
