#pragma once

#include "platform/capture/ContentFilter.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/core/Error.h"
#include "platform/media/SampleBuffer.h"
#include "platform/stream/StreamOutputType.h"

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// One producer of a stream's sample buffers: the screen grabber or a sound source. Handlers run on
// the source's own thread; once stop() returns none runs again. stop() is never called from
// inside a handler.
class StreamSource {
public:
    using SampleHandler = std::function<void(SampleBuffer)>;
    // The source is gone for good: the stream ends.
    using FailureHandler = std::function<void(const PlatformError&)>;
    // The source delivers nothing for a while (with the reason) and the stream goes on; none once
    // it delivers again.
    using InterruptionHandler = std::function<void(const std::optional<PlatformError>&)>;
    struct Handlers {
        SampleHandler onSample;
        FailureHandler onFailure;
        InterruptionHandler onInterruption;
    };

    virtual ~StreamSource() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
};

// Opens the sources a stream's outputs need: the X server and the pulse server, unless a test
// installed something else.
class StreamSourceFactory {
public:
    virtual ~StreamSourceFactory() = default;
    // Throws PlatformError when the source cannot be opened.
    virtual std::unique_ptr<StreamSource> makeSource(StreamOutputType type, const ContentFilter& filter,
                                                     const StreamConfiguration& configuration,
                                                     StreamSource::Handlers handlers) = 0;

    static std::shared_ptr<StreamSourceFactory> current();
    // nullptr restores the real one. Main thread only.
    static void install(std::shared_ptr<StreamSourceFactory> factory);
};

}  // namespace platform
