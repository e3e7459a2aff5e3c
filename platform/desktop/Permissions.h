#pragma once

#include <qcoro/qcorotask.h>

namespace platform {

// What the desktop lets this process do. On X11 any client may read the screen and grab keys, so
// screen capture is allowed whenever the X server answers, and accessibility is always trusted.
class Permissions {
public:
    // The microphone's status, numbered as the app logs it.
    enum class MicrophoneStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    static bool preflightScreenCapture();
    static bool isAccessibilityTrusted();

    // Authorised while the sound server offers a capture source that is not a monitor of an
    // output; restricted when there is none or the server cannot be reached.
    static MicrophoneStatus microphoneStatus();
    // Nothing to prompt for: answers whether the microphone is usable now.
    static QCoro::Task<bool> requestMicrophoneAccess();
};

}  // namespace platform
