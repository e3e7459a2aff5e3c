#include "platform/desktop/Permissions.h"

#include "platform/desktop/PulseConnection.h"

#include <pulse/introspect.h>
#include <xcb/xcb.h>

namespace platform {

bool Permissions::preflightScreenCapture() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection)
        xcb_disconnect(connection);
    return ok;
}

bool Permissions::isAccessibilityTrusted() {
    return true;
}

Permissions::MicrophoneStatus Permissions::microphoneStatus() {
    PulseConnection pulse("Zentola permissions");
    if (!pulse.isReady())
        return MicrophoneStatus::restricted;
    struct Query {
        bool done = false;
        int inputs = 0;
    } query;
    pa_operation* op = pa_context_get_source_info_list(
        pulse.context(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
            auto* q = static_cast<Query*>(user);
            if (eol != 0) {
                q->done = true;
                return;
            }
            // A monitor only echoes an output; it is no microphone.
            if (info && info->monitor_of_sink == PA_INVALID_INDEX)
                ++q->inputs;
        },
        &query);
    if (!op)
        return MicrophoneStatus::restricted;
    const bool finished = pulse.runUntil([&] { return query.done; });
    if (!finished)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    return finished && query.inputs > 0 ? MicrophoneStatus::authorized : MicrophoneStatus::restricted;
}

QCoro::Task<bool> Permissions::requestMicrophoneAccess() {
    co_return microphoneStatus() == MicrophoneStatus::authorized;
}

}  // namespace platform
