#pragma once

#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <functional>

namespace platform {

// A short-lived, synchronous connection to the sound server for one-off queries.
class PulseConnection {
public:
    explicit PulseConnection(const char* clientName, int timeoutMs = 3000);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    bool isReady() const { return ready_; }
    pa_context* context() const { return context_; }
    // Runs the loop until done() says so or the time runs out; false on timeout or lost connection.
    bool runUntil(const std::function<bool()>& done);

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    int timeoutMs_;
    bool ready_ = false;
};

}  // namespace platform
