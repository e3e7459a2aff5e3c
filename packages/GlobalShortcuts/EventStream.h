#pragma once

#include "packages/GlobalShortcuts/EventType.h"
#include "packages/GlobalShortcuts/Name.h"

#include <QUuid>

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>

namespace GlobalShortcuts {

// The presses and releases of one name, buffered without bound, awaited one by one:
//     while (auto event = co_await stream->next()) ...
// next() yields none once the stream is finished. Finishing (or dropping the stream) withdraws its
// handlers, and with them the system registration when nothing else needs it.
class EventStream {
public:
    struct State {
        std::deque<EventType> buffer;
        std::coroutine_handle<> waiter;
        bool finished = false;
    };

    class NextAwaiter {
    public:
        explicit NextAwaiter(std::shared_ptr<State> state) : state_(std::move(state)) {}
        bool await_ready() const noexcept { return !state_->buffer.empty() || state_->finished; }
        void await_suspend(std::coroutine_handle<> h) noexcept { state_->waiter = h; }
        std::optional<EventType> await_resume();

    private:
        std::shared_ptr<State> state_;
    };

    EventStream(const Name& name, std::optional<EventType> only);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    NextAwaiter next() { return NextAwaiter(state_); }
    void finish();
    bool isFinished() const { return state_->finished; }
    const QUuid& id() const { return id_; }

    // Delivers one event to a live stream (the dispatch's side).
    static void yield(const std::weak_ptr<State>& state, EventType event, std::optional<EventType> only);

private:
    Name name_;
    QUuid id_;
    std::shared_ptr<State> state_;
};

}  // namespace GlobalShortcuts
