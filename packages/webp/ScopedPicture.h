#pragma once

#include "packages/webp/InterfaceVersion.h"

#include <webp/encode.h>

namespace webp {

// A library picture released on every path, initialised or not.
class ScopedPicture {
public:
    ScopedPicture() = default;
    ~ScopedPicture() { WebPPictureFree(&picture_); }
    ScopedPicture(const ScopedPicture&) = delete;
    ScopedPicture& operator=(const ScopedPicture&) = delete;

    bool init() { return WebPPictureInitInternal(&picture_, encoderInterfaceVersion) != 0; }
    WebPPicture* get() { return &picture_; }
    WebPPicture* operator->() { return &picture_; }

private:
    WebPPicture picture_{};
};

}  // namespace webp
