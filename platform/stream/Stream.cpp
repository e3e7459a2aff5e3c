#include "platform/stream/Stream.h"

#include "platform/core/MainThread.h"
#include "platform/stream/StreamSource.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {

struct Stream::Shared : std::enable_shared_from_this<Stream::Shared> {
    struct Output {
        StreamOutput* output = nullptr;
        StreamOutputType type = StreamOutputType::screen;
        std::shared_ptr<SerialQueue> queue;
        std::unique_ptr<StreamSource> source;  // none when the configuration does not capture it
        std::shared_ptr<std::atomic<int>> pending = std::make_shared<std::atomic<int>>(0);
    };

    StreamDelegate* delegate = nullptr;
    std::atomic<Stream*> owner{nullptr};
    std::vector<Output> outputs;  // fixed once the capture starts

    std::atomic<bool> delivering{false};
    std::once_flag stopOnce;
    std::mutex stateMutex;  // started, failed, error: a source may fail on its thread during the start
    bool started = false;
    bool failed = false;
    std::optional<PlatformError> error;

    // Main thread only.
    bool sourcesStopped = false;
    std::vector<Completion<void>> stopWaiters;

    ~Shared() {
        // The last holder can be a job that a capture thread handed over just as the stream went
        // away; its queue cannot join its own thread, so another thread lets it go.
        for (auto& o : outputs)
            if (o.queue && o.queue->isCurrent())
                std::thread([queue = std::move(o.queue)] {}).detach();
    }

    void deliver(std::size_t index, SampleBuffer buffer) {
        if (!delivering.load(std::memory_order_acquire))
            return;
        const Output& o = outputs[index];
        // A consumer that falls behind gets the newest frames, not a growing backlog that holds
        // every grabbed frame's memory; sound is small and never dropped here.
        if (o.type == StreamOutputType::screen && o.pending->load() >= maxPendingFrames)
            return;
        o.pending->fetch_add(1);
        o.queue->async([self = shared_from_this(), output = o.output, type = o.type, pending = o.pending,
                        buffer = std::move(buffer)] {
            if (Stream* stream = self->owner.load(std::memory_order_acquire))
                output->didOutputSampleBuffer(*stream, buffer, type);
            pending->fetch_sub(1);
        });
    }

    void fail(const PlatformError& e) {
        {
            std::lock_guard lock(stateMutex);
            if (failed)
                return;
            failed = true;
            error = e;
            // Before the start the outputs may still be changing; the start reports it instead.
            if (!started)
                return;
        }
        triggerStop();
    }

    void interrupt(StreamOutputType type, const std::optional<PlatformError>& reason) {
        postToMain([self = shared_from_this(), type, reason] {
            Stream* stream = self->owner.load();
            if (!stream || !self->delegate || !self->delivering.load())
                return;
            if (reason)
                self->delegate->outputWasInterrupted(*stream, type, *reason);
            else
                self->delegate->outputResumed(*stream, type);
        });
    }

    // Stops every source once, on a thread of its own: a failing source calls in from its own
    // thread, which cannot join itself. Once they have stopped no source can fail any more, so a
    // failure is told then, whether it ended the stream or came while a stop was under way.
    void triggerStop() {
        std::call_once(stopOnce, [&] {
            delivering.store(false, std::memory_order_release);
            std::thread([self = shared_from_this()] {
                for (auto& o : self->outputs)
                    if (o.source)
                        o.source->stop();
                postToMain([self] {
                    std::optional<PlatformError> error;
                    {
                        std::lock_guard lock(self->stateMutex);
                        if (self->started)
                            error = self->error;
                    }
                    Stream* stream = self->owner.load();
                    if (stream && self->delegate && error)
                        self->delegate->didStopWithError(*stream, *error);
                    self->sourcesStopped = true;
                    auto waiters = std::move(self->stopWaiters);
                    for (auto& w : waiters)
                        w.resolve();
                });
            }).detach();
        });
    }
};

Stream::Stream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate* delegate)
    : filter_(std::move(filter)), configuration_(std::move(configuration)), shared_(std::make_shared<Shared>()) {
    shared_->delegate = delegate;
    shared_->owner = this;
    shared_->outputs.reserve(3);
}

Stream::~Stream() {
    shared_->owner.store(nullptr, std::memory_order_release);
    shared_->triggerStop();
    // A job that already saw this stream may still be running; let it finish before the memory goes.
    for (auto& o : shared_->outputs)
        if (o.queue && !o.queue->isCurrent())
            o.queue->sync([] {});
}

void Stream::addStreamOutput(StreamOutput* output, StreamOutputType type, std::shared_ptr<SerialQueue> queue) {
    if (started_)
        throw PlatformError(errorDomain, 1, "Outputs cannot be added once the capture has started");
    if (!output || !queue)
        throw PlatformError(errorDomain, 2, "An output needs an object and a queue");
    for (const auto& o : shared_->outputs)
        if (o.type == type)
            throw PlatformError(errorDomain, 3,
                                std::string("The stream already has a ") + streamOutputTypeName(type) + " output");

    const bool captured = type == StreamOutputType::screen ||
                          (type == StreamOutputType::audio && configuration_.capturesAudio) ||
                          (type == StreamOutputType::microphone && configuration_.captureMicrophone);
    Shared::Output slot{output, type, std::move(queue), nullptr};
    if (captured) {
        const std::size_t index = shared_->outputs.size();
        Shared* shared = shared_.get();  // sources live inside it and stop before it goes
        StreamSource::Handlers handlers;
        handlers.onSample = [shared, index](SampleBuffer b) { shared->deliver(index, std::move(b)); };
        handlers.onFailure = [shared](const PlatformError& e) { shared->fail(e); };
        handlers.onInterruption = [shared, type](const std::optional<PlatformError>& reason) {
            shared->interrupt(type, reason);
        };
        slot.source = StreamSourceFactory::current()->makeSource(type, filter_, configuration_, std::move(handlers));
    }
    shared_->outputs.push_back(std::move(slot));
}

QCoro::Task<void> Stream::startCapture() {
    if (started_)
        throw PlatformError(errorDomain, 4, "The stream has already been started");
    started_ = true;
    {
        std::lock_guard lock(shared_->stateMutex);
        shared_->started = true;
        if (shared_->failed && shared_->error)
            throw *shared_->error;
    }
    shared_->delivering.store(true, std::memory_order_release);
    std::size_t startedCount = 0;
    try {
        for (auto& o : shared_->outputs) {
            if (o.source)
                o.source->start();
            ++startedCount;
        }
    } catch (...) {
        shared_->delivering.store(false);
        for (std::size_t i = 0; i < startedCount; ++i)
            if (shared_->outputs[i].source)
                shared_->outputs[i].source->stop();
        throw;
    }
    co_return;
}

QCoro::Task<void> Stream::stopCapture() {
    auto shared = shared_;
    if (!shared->sourcesStopped) {
        Completion<void> stopped;
        shared->stopWaiters.push_back(stopped);
        shared->triggerStop();
        co_await stopped;
    }
    for (auto& o : shared->outputs) {
        Completion<void> drained;
        o.queue->async([drained] { drained.resolve(); });
        co_await drained;
    }
}

}  // namespace platform
