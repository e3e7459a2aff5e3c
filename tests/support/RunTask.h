#pragma once

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>

namespace testing_support {

// Runs a task to its end in a nested event loop and hands back its value or rethrows its error
// (QCoro::waitFor alone would lose the error and never return).
template <typename T>
T runTask(QCoro::Task<T> task) {
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    QCoro::waitFor([&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(task);
            else
                value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
    }());
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

}  // namespace testing_support
