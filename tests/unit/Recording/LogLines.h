#pragma once

#include <string>
#include <vector>

// Captured standard output split into its lines.
inline std::vector<std::string> lines(const std::string& out) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        result.push_back(out.substr(start, nl - start));
    return result;
}
