#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

namespace platform {

inline bool isMainThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs fn on the main thread's event loop, later, from any thread.
inline void postToMain(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// A one-shot result that a platform callback delivers from any thread and a coroutine on the main
// thread awaits. The waiter resumes on the main thread exactly once, with the value or the error;
// a second resolve is ignored. Copies share the same state.
template <typename T = void>
class Completion {
    using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
    struct State {
        std::mutex mutex;
        std::optional<Stored> value;
        std::exception_ptr error;
        std::coroutine_handle<> waiter;
        bool done = false;
    };

public:
    Completion() : state_(std::make_shared<State>()) {}

    template <typename U = T>
        requires(!std::is_void_v<U>)
    void resolve(U value) const { finish(Stored(std::move(value)), nullptr); }
    template <typename U = T>
        requires std::is_void_v<U>
    void resolve() const { finish(true, nullptr); }
    void reject(std::exception_ptr error) const { finish(std::nullopt, error); }
    template <typename E>
    void fail(E error) const { reject(std::make_exception_ptr(std::move(error))); }

    bool isDone() const {
        std::lock_guard lock(state_->mutex);
        return state_->done;
    }

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> h) const {
        std::lock_guard lock(state_->mutex);
        if (state_->done)
            return false;
        state_->waiter = h;
        return true;
    }
    T await_resume() const {
        std::lock_guard lock(state_->mutex);
        if (state_->error)
            std::rethrow_exception(state_->error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*state_->value);
    }

private:
    void finish(std::optional<Stored> value, std::exception_ptr error) const {
        std::coroutine_handle<> waiter;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->done)
                return;
            state_->done = true;
            state_->value = std::move(value);
            state_->error = error;
            waiter = state_->waiter;
        }
        if (waiter)
            postToMain([waiter] { waiter.resume(); });
    }

    std::shared_ptr<State> state_;
};

}  // namespace platform
