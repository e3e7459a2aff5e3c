#pragma once

#include "platform/capture/ScreenCaptureProvider.h"
#include "platform/core/MainThread.h"
#include "platform/stream/StreamSource.h"

#include <atomic>
#include <optional>
#include <vector>

// Shareable content set by hand; a test may hold the answer back with `gate`.
class FakeCaptureProvider : public platform::ScreenCaptureProvider {
public:
    QCoro::Task<platform::ShareableContent> shareableContent(bool, bool) override {
        ++requests;
        if (gate)
            co_await *gate;
        platform::ShareableContent answer = content;  // the promise moves from what it is given
        co_return answer;
    }
    QCoro::Task<platform::BitmapRef> captureImage(platform::ContentFilter, platform::StreamConfiguration) override {
        co_return platform::BitmapRef();
    }
    std::vector<platform::WindowListEntry> windowList(bool, bool) override { return {}; }

    platform::ShareableContent content;
    std::optional<platform::Completion<void>> gate;
    int requests = 0;
};

// Stream sources the test drives by hand: deliver() hands a buffer to the stream as the capture
// thread would, fail() reports a dead source.
class FakeSourceFactory : public platform::StreamSourceFactory {
public:
    class Source : public platform::StreamSource {
    public:
        Source(platform::StreamOutputType type, platform::StreamSource::SampleHandler onSample,
               platform::StreamSource::FailureHandler onFailure)
            : type(type), onSample(std::move(onSample)), onFailure(std::move(onFailure)) {}
        void start() override { running = true; }
        void stop() override { running = false; }

        platform::StreamOutputType type;
        platform::StreamSource::SampleHandler onSample;
        platform::StreamSource::FailureHandler onFailure;
        std::atomic<bool> running{false};
    };

    std::unique_ptr<platform::StreamSource> makeSource(platform::StreamOutputType type,
                                                       const platform::ContentFilter& filter,
                                                       const platform::StreamConfiguration& configuration,
                                                       platform::StreamSource::SampleHandler onSample,
                                                       platform::StreamSource::FailureHandler onFailure) override {
        filters.push_back(filter);
        configurations.push_back(configuration);
        auto source = std::make_unique<Source>(type, std::move(onSample), std::move(onFailure));
        sources.push_back(source.get());
        return source;
    }

    // The latest source of that type; earlier ones went with their streams.
    Source* source(platform::StreamOutputType type) const {
        for (auto it = sources.rbegin(); it != sources.rend(); ++it)
            if ((*it)->type == type)
                return *it;
        return nullptr;
    }

    std::vector<platform::ContentFilter> filters;
    std::vector<platform::StreamConfiguration> configurations;
    std::vector<Source*> sources;  // owned by the stream; valid while it lives
};
