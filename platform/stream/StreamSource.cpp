#include "platform/stream/StreamSource.h"

#include "platform/stream/AudioStreamSource.h"
#include "platform/stream/VideoCapture.h"
#include "platform/stream/X11StreamGrabber.h"

namespace platform {

namespace {

class SystemSourceFactory : public StreamSourceFactory {
public:
    std::unique_ptr<StreamSource> makeSource(StreamOutputType type, const ContentFilter& filter,
                                             const StreamConfiguration& configuration,
                                             StreamSource::Handlers handlers) override {
        if (type == StreamOutputType::screen)
            return std::make_unique<VideoCapture>(std::make_unique<X11StreamGrabber>(filter, configuration),
                                                  configuration.minimumFrameInterval, std::move(handlers.onSample),
                                                  std::move(handlers.onFailure));
        AudioCapture::Settings settings;
        settings.sampleRate = configuration.sampleRate;
        settings.channelCount = configuration.channelCount;
        if (type == StreamOutputType::microphone && configuration.microphoneCaptureDeviceID)
            settings.deviceName = configuration.microphoneCaptureDeviceID->toStdString();
        const auto source =
            type == StreamOutputType::audio ? AudioCapture::Source::systemAudio : AudioCapture::Source::microphone;
        return std::make_unique<AudioStreamSource>(source, std::move(settings), std::move(handlers.onSample),
                                                   std::move(handlers.onInterruption));
    }
};

std::shared_ptr<StreamSourceFactory>& installed() {
    static std::shared_ptr<StreamSourceFactory> factory;
    return factory;
}

}  // namespace

std::shared_ptr<StreamSourceFactory> StreamSourceFactory::current() {
    auto& f = installed();
    if (!f)
        f = std::make_shared<SystemSourceFactory>();
    return f;
}

void StreamSourceFactory::install(std::shared_ptr<StreamSourceFactory> factory) { installed() = std::move(factory); }

}  // namespace platform
