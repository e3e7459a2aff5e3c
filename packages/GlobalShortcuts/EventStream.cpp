#include "packages/GlobalShortcuts/EventStream.h"

#include "platform/core/MainThread.h"

namespace GlobalShortcuts {

namespace detail {
void attachStream(const Name& name, const QUuid& id, std::weak_ptr<EventStream::State> state,
                  std::optional<EventType> only);
void detachStream(const Name& name, const QUuid& id);
}  // namespace detail

std::optional<EventType> EventStream::NextAwaiter::await_resume() {
    state_->waiter = nullptr;
    // A finished stream hands out nothing more, not even what it had buffered: its consumer may
    // be gone.
    if (state_->finished || state_->buffer.empty())
        return std::nullopt;
    EventType event = state_->buffer.front();
    state_->buffer.pop_front();
    return event;
}

EventStream::EventStream(const Name& name, std::optional<EventType> only)
    : name_(name), id_(QUuid::createUuid()), state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    platform::postToMain([name, id = id_, weak, only] {
        // A stream finished before its set-up ran must not leave handlers behind.
        auto state = weak.lock();
        if (!state || state->finished)
            return;
        detail::attachStream(name, id, weak, only);
    });
}

EventStream::~EventStream() { finish(); }

void EventStream::finish() {
    if (state_->finished)
        return;
    state_->finished = true;
    platform::postToMain([name = name_, id = id_] { detail::detachStream(name, id); });
    // The waiter learns of the end on the next turn, outside whatever finished the stream; if no turn
    // comes (the application is going away), as the pending call is dropped: a consumer left suspended
    // would keep itself, the stream and its state alive for good.
    if (state_->waiter) {
        std::shared_ptr<void> wake(nullptr, [state = state_](void*) {
            if (auto waiter = state->waiter) {
                state->waiter = nullptr;
                waiter.resume();
            }
        });
        platform::postToMain([wake] {});
    }
}

void EventStream::yield(const std::weak_ptr<State>& weak, EventType event, std::optional<EventType> only) {
    auto state = weak.lock();
    if (!state || state->finished || (only && *only != event))
        return;
    state->buffer.push_back(event);
    if (auto waiter = state->waiter) {
        state->waiter = nullptr;
        waiter.resume();
    }
}

}  // namespace GlobalShortcuts
