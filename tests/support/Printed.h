#pragma once

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The lines of a text, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

// Standard output captured for as long as this lives. However the scope is left (a failed ASSERT,
// an exception), the capture ends and what it held is printed after all: a failure's text, which
// the test runner prints on standard output too, is never swallowed, and the next capture can begin.
class CapturedStdout {
public:
    CapturedStdout() { testing::internal::CaptureStdout(); }
    ~CapturedStdout() {
        if (!taken_) {
            const std::string held = testing::internal::GetCapturedStdout();
            std::fwrite(held.data(), 1, held.size(), stdout);
            std::fflush(stdout);
        }
    }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    // Ends the capture: everything printed since it began.
    std::string text() {
        if (taken_)
            return {};
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }
    std::vector<std::string> lines() { return linesOf(text()); }

private:
    bool taken_ = false;
};

// The lines an action prints on standard output, the work it queues for the next turns included.
inline std::vector<std::string> printedBy(const std::function<void()>& action, int turns = 5) {
    CapturedStdout printed;
    action();
    for (int i = 0; i < turns; ++i)
        QCoreApplication::processEvents();
    return printed.lines();
}
