#pragma once

#include "platform/stream/StreamSource.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

// Stream sources the test drives by hand through the handlers the stream gave them, from a thread
// of its own as a capture thread would.
class FakeSources : public platform::StreamSourceFactory {
public:
    struct Source : platform::StreamSource {
        void start() override { running = true; }
        void stop() override {
            running = false;
            ++stops;
            if (std::exchange(failsWhileStopping, false))
                handlers.onFailure(platform::PlatformError("X11", 4, "gone"));
        }
        void run(const std::function<void()>& f) { std::thread(f).join(); }
        void push(platform::SampleBuffer b) { run([&] { handlers.onSample(b); }); }
        void die(const std::string& why) { run([&] { handlers.onFailure(platform::PlatformError("Fake", 7, why)); }); }

        platform::StreamOutputType type{};
        Handlers handlers;
        std::atomic<bool> running{false};
        std::atomic<int> stops{0};
        bool failsWhileStopping = false;
    };

    std::unique_ptr<platform::StreamSource> makeSource(platform::StreamOutputType type, const platform::ContentFilter& filter,
                                                       const platform::StreamConfiguration& configuration,
                                                       platform::StreamSource::Handlers handlers) override {
        filters.push_back(filter);
        configurations.push_back(configuration);
        auto source = std::make_unique<Source>();
        source->type = type;
        source->handlers = std::move(handlers);
        sources.push_back(source.get());
        return source;
    }
    // The latest source of that type; earlier ones went with their streams.
    Source& source(platform::StreamOutputType type) const {
        for (auto it = sources.rbegin(); it != sources.rend(); ++it)
            if ((*it)->type == type)
                return **it;
        throw std::runtime_error("no such source");
    }

    std::vector<platform::ContentFilter> filters;
    std::vector<platform::StreamConfiguration> configurations;
    std::vector<Source*> sources;  // owned by the streams; valid while they live
};
