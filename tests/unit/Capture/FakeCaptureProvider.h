#pragma once

#include "platform/capture/ScreenCaptureProvider.h"
#include "platform/core/Error.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Answers content queries and grabs from fixed data and records what it was asked.
class FakeCaptureProvider : public platform::ScreenCaptureProvider {
public:
    explicit FakeCaptureProvider(std::vector<std::string>* events = nullptr) : events_(events) {}
    platform::ShareableContent content;
    std::optional<platform::PlatformError> contentError, captureError;
    std::vector<std::pair<bool, bool>> queries;
    std::vector<std::pair<platform::ContentFilter, platform::StreamConfiguration>> captures;
    std::vector<platform::WindowListEntry> entries;

    QCoro::Task<platform::ShareableContent> shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) override {
        if (events_)
            events_->push_back("content");
        queries.emplace_back(excludingDesktopWindows, onScreenWindowsOnly);
        if (contentError)
            throw *contentError;
        platform::ShareableContent copy = content;  // co_return would move from the member
        co_return copy;
    }

    QCoro::Task<platform::BitmapRef> captureImage(platform::ContentFilter filter,
                                                  platform::StreamConfiguration configuration) override {
        if (events_)
            events_->push_back("grab");
        captures.emplace_back(filter, configuration);
        if (captureError)
            throw *captureError;
        const int w = int(configuration.width), h = int(configuration.height);
        co_return platform::Bitmap::create(w, h, w * 4, platform::PixelFormat::BGRA, platform::AlphaMode::opaque,
                                           std::vector<std::uint8_t>(std::size_t(w) * h * 4, 0x80));
    }

    std::vector<platform::WindowListEntry> windowList(bool, bool) override { return entries; }

private:
    std::vector<std::string>* events_;
};
