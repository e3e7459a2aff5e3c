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
    if constexpr (std::is_void_v<T>) {
        auto wrapper = [&]() -> QCoro::Task<void> {
            try {
                co_await std::move(task);
            } catch (...) {
                error = std::current_exception();
            }
        };
        QCoro::waitFor(wrapper());
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> value;
        auto wrapper = [&]() -> QCoro::Task<void> {
            try {
                value.emplace(co_await std::move(task));
            } catch (...) {
                error = std::current_exception();
            }
        };
        QCoro::waitFor(wrapper());
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
}

}  // namespace testing_support
