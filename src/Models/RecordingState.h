#pragma once

namespace zentola {

// The recorder's published state.
enum class RecordingState { idle, recording, stopping };

}  // namespace zentola
