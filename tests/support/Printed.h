#pragma once

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The lines an action prints on standard output, the work it queues for the next turns included.
inline std::vector<std::string> printedBy(const std::function<void()>& action, int turns = 5) {
    testing::internal::CaptureStdout();
    action();
    for (int i = 0; i < turns; ++i)
        QCoreApplication::processEvents();
    std::vector<std::string> lines;
    const std::string out = testing::internal::GetCapturedStdout();
    for (size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(out.substr(start, nl - start));
    return lines;
}
