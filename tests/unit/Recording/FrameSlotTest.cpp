#include "platform/media/VideoEncoderInput.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::VideoEncoderInput;

TEST(FrameSlotTest, JitterNeitherDropsFramesNorMovesThemFarFromTheirTime) {
    // On time, a little early or late: each frame takes the next slot.
    EXPECT_EQ(VideoEncoderInput::frameSlot(0.0, -1), 0);
    EXPECT_EQ(VideoEncoderInput::frameSlot(1.2, 0), 1);
    EXPECT_EQ(VideoEncoderInput::frameSlot(1.9, 1), 2);
    // One frame 10 ms late at 60 fps (0.6 of a frame), then one on time: both kept, in order.
    EXPECT_EQ(VideoEncoderInput::frameSlot(3.6, 2), 3);
    EXPECT_EQ(VideoEncoderInput::frameSlot(4.0, 3), 4);
    // A real gap leaves empty slots; the frame goes where its time says.
    EXPECT_EQ(VideoEncoderInput::frameSlot(9.1, 4), 9);
    // A second frame for a slot already used is dropped, and so is one before the session start.
    EXPECT_EQ(VideoEncoderInput::frameSlot(9.2, 9), -1);
    EXPECT_EQ(VideoEncoderInput::frameSlot(-0.8, -1), -1);
}

TEST(FrameSlotTest, ACaptureFasterThanTheMovieRateDropsFramesInsteadOfDrifting) {
    // 62.5 frames per second into a 60 fps movie.
    long long last = -1;
    int kept = 0;
    for (int i = 0; i < 625; ++i) {
        double position = i * 60.0 / 62.5;
        long long slot = VideoEncoderInput::frameSlot(position, last);
        if (slot < 0)
            continue;
        EXPECT_LT(std::abs(double(slot) - position), 0.71) << "frame " << i;
        EXPECT_GT(slot, last);
        last = slot;
        ++kept;
    }
    EXPECT_NEAR(kept, 600, 1);
}
