#pragma once

#include "platform/capture/ContentFilter.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/core/SerialQueue.h"
#include "platform/stream/StreamDelegate.h"
#include "platform/stream/StreamOutput.h"
#include "platform/stream/StreamOutputType.h"

#include <qcoro/qcorotask.h>

#include <memory>

namespace platform {

// A live capture of one display, rectangle or window, with system audio and the microphone as
// the configuration asks. Each output gets its sample buffers on its own serial queue; every
// buffer is stamped from one monotonic clock (CaptureClock), so all outputs share a time line.
//
// Main thread only. Outputs and delegate are not owned and must outlive the stream.
class Stream {
public:
    static constexpr const char* errorDomain = "Stream";
    // Frames handed to the screen output's queue and not yet taken; further frames are dropped.
    static constexpr int maxPendingFrames = 3;

    Stream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate* delegate);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Opens the output's source at once: the screen for `screen`, the default output's monitor
    // for `audio` (when the configuration captures audio), the microphone for `microphone` (when
    // it captures the microphone). Throws PlatformError when the source cannot be opened, when an
    // output of that type was already added, or once the capture has started.
    void addStreamOutput(StreamOutput* output, StreamOutputType type, std::shared_ptr<SerialQueue> sampleHandlerQueue);

    // Starts every source. Throws PlatformError when a source fails to start or the stream was
    // started before; nothing runs then.
    QCoro::Task<void> startCapture();
    // Stops every source and waits until each queue has run what was already handed to it; no
    // output is called after it returns. Stopping a stream that is not running (never started,
    // stopped, or ended by a failure) does nothing more than that and does not fail.
    QCoro::Task<void> stopCapture();

    const ContentFilter& filter() const { return filter_; }
    const StreamConfiguration& configuration() const { return configuration_; }

private:
    struct Shared;

    ContentFilter filter_;
    StreamConfiguration configuration_;
    std::shared_ptr<Shared> shared_;
    bool started_ = false;
};

}  // namespace platform
