#pragma once

#include "platform/media/MediaTime.h"
#include "platform/stream/FrameGrabber.h"
#include "platform/stream/StreamSource.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

// The video capture thread: grabs a frame at each deadline of the minimum frame interval and
// hands it on stamped with the capture clock time of the grab.
class VideoCapture : public StreamSource {
public:
    VideoCapture(std::unique_ptr<FrameGrabber> grabber, MediaTime minimumFrameInterval, SampleHandler onSample,
                 FailureHandler onFailure);
    ~VideoCapture() override;

    void start() override;
    void stop() override;

private:
    void run();

    std::unique_ptr<FrameGrabber> grabber_;
    MediaTime interval_;
    SampleHandler onSample_;
    FailureHandler onFailure_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;
    std::thread thread_;
};

}  // namespace platform
