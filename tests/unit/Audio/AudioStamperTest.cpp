// A sound source read in small chunks on a fake capture clock, with the server's timing reports
// as a pulse server gives them: stale at first, then right. Every chunk handed on must lie where
// it was heard and join the one before it: no hole, no overlap.
#include "platform/audio/AudioStamper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using platform::AudioStamper;

namespace {

constexpr std::int64_t ms = 1'000'000;
constexpr int rate = 48000;
constexpr std::int64_t nsPerFrame = 1'000'000'000 / rate;  // 20833, exact enough for these spans

struct Delivery {
    std::int64_t at, frames;
    float first;
};

// A stream whose position 0 was heard at `heardZero`; its sound reaches the reader `delay` after it
// was heard, in chunks of `chunk` frames. Each frame's sample is its position, so a delivery's
// contents tell where it came from.
class Source {
public:
    Source(AudioStamper& stamper, std::int64_t heardZero, std::int64_t chunk = 120, std::int64_t delay = 3 * ms)
        : stamper_(stamper), heardZero_(heardZero), chunk_(chunk), delay_(delay) {}
    std::int64_t heard(std::int64_t position) const { return heardZero_ + position * nsPerFrame; }
    // Reads the next chunk at the moment its last frame has arrived.
    std::int64_t read() {
        std::vector<float> samples(std::size_t(chunk_) * 2);
        for (std::int64_t i = 0; i < chunk_; ++i)
            samples[std::size_t(i) * 2] = samples[std::size_t(i) * 2 + 1] = float(position_ + i);
        const std::int64_t now = heard(position_ + chunk_) + delay_;
        stamper_.push(reinterpret_cast<const std::uint8_t*>(samples.data()), chunk_, now);
        position_ += chunk_;
        return now;
    }
    // A report taken now: right, or off by `error` (a stale one).
    void report(std::int64_t now, std::int64_t error = 0) { stamper_.report(heardZero_ + error, now); }
    std::int64_t position() const { return position_; }

private:
    AudioStamper& stamper_;
    std::int64_t heardZero_, chunk_, delay_;
    std::int64_t position_ = 0;
};

class AudioStamperTest : public ::testing::Test {
protected:
    AudioStamper stamper{rate, 8, rate * 3 / 4, [this](std::vector<std::uint8_t> bytes, std::int64_t at) {
                             const auto* samples = reinterpret_cast<const float*>(bytes.data());
                             deliveries.push_back({at, std::int64_t(bytes.size() / 8), samples[0]});
                         }};
    std::vector<Delivery> deliveries;

    // The first stream of a new recording.
    Source recording(std::int64_t heardZero) {
        stamper.restart();
        stamper.newStream();
        return Source(stamper, heardZero);
    }

    // Each delivery starts where the one before it ended, but for the slow pull towards the
    // reports (a fraction of a millisecond, which the encoder takes up by stretching the sound).
    void expectJoined(std::size_t from = 0) const {
        for (std::size_t i = from + 1; i < deliveries.size(); ++i) {
            const std::int64_t end = deliveries[i - 1].at + deliveries[i - 1].frames * nsPerFrame;
            EXPECT_NEAR(double(deliveries[i].at), double(end), double(ms) / 2) << "delivery " << i;
        }
    }
    // Each delivery lies where its first frame was heard, to within `tolerance`.
    void expectHeard(const Source& s, std::int64_t tolerance, std::size_t from = 0) const {
        for (std::size_t i = from; i < deliveries.size(); ++i)
            EXPECT_NEAR(double(deliveries[i].at), double(s.heard(std::int64_t(deliveries[i].first))), double(tolerance))
                << "delivery " << i;
    }
};

}  // namespace

// The first report was taken before any sound flowed and counts an output latency of 700 ms that
// is long gone. The sound is held until two reports taken since agree, then handed on in one piece
// where it was heard; what follows joins it.
TEST_F(AudioStamperTest, AStaleFirstReportNeitherMovesNorChopsTheFirstSound) {
    Source s = recording(10'000 * ms);
    s.report(10'000 * ms - 50 * ms, -700 * ms);
    std::int64_t now = 0;
    for (int i = 0; i < 8; ++i)
        now = s.read();
    EXPECT_TRUE(deliveries.empty()) << "handed on on a stale report";
    s.report(now);
    for (int i = 0; i < 8; ++i)
        now = s.read();
    EXPECT_TRUE(deliveries.empty()) << "trusted one report alone";
    s.report(now);
    EXPECT_TRUE(stamper.trusted());
    for (int i = 0; i < 400; ++i) {
        now = s.read();
        if (i % 100 == 0)
            s.report(now, (i / 100 % 2) ? 2 * ms : -2 * ms);  // later reports step a little
    }
    ASSERT_GE(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[0].first, 0.f) << "the held sound comes first, from the start";
    EXPECT_EQ(deliveries[0].frames, 16 * 120);
    expectJoined();
    expectHeard(s, 2 * ms);
}

// Stopped before the timing could be trusted: what was held is handed on, not dropped.
TEST_F(AudioStamperTest, TheStopHandsOnWhatIsHeld) {
    Source s = recording(5'000 * ms);
    std::int64_t now = 0;
    for (int i = 0; i < 4; ++i)
        now = s.read();
    s.report(now);
    now = s.read();
    ASSERT_TRUE(deliveries.empty());
    stamper.flush(now);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].frames, 5 * 120);
    expectHeard(s, 1 * ms);
}

// A server that sends no timing report at all: the sound is held up to the limit and then goes on
// stamped by when it was read. The held sound ends where the chunk that let it go begins, and both
// lie where they were heard but for the reader's own delay.
TEST_F(AudioStamperTest, WithoutReportsTheHeldSoundEndsWhereTheChunkAfterItBegins) {
    stamper.restart();
    stamper.newStream();
    Source s(stamper, 3'000 * ms, 960);  // 20 ms chunks
    while (deliveries.size() < 3)
        s.read();
    EXPECT_EQ(deliveries[0].first, 0.f);
    EXPECT_LE(deliveries[0].frames, rate * 3 / 4);
    EXPECT_EQ(deliveries[1].first, float(deliveries[0].frames));
    expectJoined();
    expectHeard(s, 4 * ms);
}

// A source whose reports never settle is held no longer than the limit, then goes on joined.
TEST_F(AudioStamperTest, ReportsThatNeverAgreeHoldTheSoundNoLongerThanTheLimit) {
    Source s = recording(1'000 * ms);
    std::int64_t now = 0;
    for (int i = 0; i < 500; ++i) {
        now = s.read();
        s.report(now, (i % 2) ? 20 * ms : -20 * ms);
    }
    ASSERT_FALSE(deliveries.empty());
    EXPECT_LE(deliveries[0].frames, rate * 3 / 4);
    EXPECT_FALSE(stamper.holding()) << "the sound after the limit is held back again";
    expectJoined();
    expectHeard(s, 25 * ms);
}

// The server goes away for a second and comes back with a new stream, whose first report is stale
// again: the new sound lies where it was heard, whole from its first frame, and never over the
// sound before the loss. A hole the server reports inside a stream stays a hole of its length.
TEST_F(AudioStamperTest, ANewStreamAfterALossLiesWhereItWasHeardAndJoinsUp) {
    Source first = recording(20'000 * ms);
    std::int64_t now = first.read();
    first.report(now);
    now = first.read();
    first.report(now);
    for (int i = 0; i < 200; ++i)
        now = first.read();
    stamper.flush(now);
    const std::size_t before = deliveries.size();
    const std::int64_t firstEnd = first.heard(first.position());

    stamper.newStream();
    Source second(stamper, firstEnd + 1'000 * ms);
    second.report(firstEnd + 900 * ms, 300 * ms);
    for (int i = 0; i < 10; ++i)
        now = second.read();
    second.report(now);
    now = second.read();
    second.report(now);
    for (int i = 0; i < 100; ++i)
        now = second.read();
    ASSERT_GT(deliveries.size(), before);
    EXPECT_EQ(deliveries[before].first, 0.f);
    EXPECT_GE(deliveries[before].at, firstEnd);
    expectJoined(before);
    expectHeard(second, 2 * ms, before);

    // Dropped by the server: 100 ms of nothing, then the sound goes on 100 ms later.
    const std::size_t beforeHole = deliveries.size();
    stamper.push(nullptr, 4800, now + 100 * ms);
    std::vector<float> silence(240, 0.f);
    stamper.push(reinterpret_cast<const std::uint8_t*>(silence.data()), 120, now + 103 * ms);
    ASSERT_EQ(deliveries.size(), beforeHole + 1);
    const std::int64_t end = deliveries[beforeHole - 1].at + deliveries[beforeHole - 1].frames * nsPerFrame;
    EXPECT_NEAR(double(deliveries.back().at - end), double(100 * ms), double(ms));
}
