#pragma once

#include "platform/core/Bitmap.h"
#include "platform/media/SampleBuffer.h"

#include <cstdint>

// Test pictures and tones with known content.
namespace SyntheticMedia {

// A BGRA frame with a bar whose position encodes the frame number, so consecutive frames differ.
platform::BitmapRef frame(int width, int height, int index);

// frames of a 440 Hz stereo tone in the given format, continuing the phase from firstFrame.
platform::SampleBuffer tone(platform::AudioSampleFormat format, int frames, long long firstFrame,
                            platform::MediaTime presentationTime);

}  // namespace SyntheticMedia
