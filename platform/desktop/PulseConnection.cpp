#include "platform/desktop/PulseConnection.h"

#include <chrono>

namespace platform {

PulseConnection::PulseConnection(const char* clientName, int timeoutMs) : timeoutMs_(timeoutMs) {
    loop_ = pa_mainloop_new();
    if (!loop_)
        return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), clientName);
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    ready_ = runUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
}

PulseConnection::~PulseConnection() {
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_mainloop_free(loop_);
}

bool PulseConnection::runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (!done()) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Wake at least every 50 ms to look at the clock.
        pa_mainloop_prepare(loop_, 50 * 1000);
        pa_mainloop_poll(loop_);
        pa_mainloop_dispatch(loop_);
    }
    return true;
}

}  // namespace platform
