#include "platform/stream/FrameScaler.h"

#include "platform/core/Error.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <mutex>
#include <vector>

namespace platform {

class FrameScaler::BufferPool {
public:
    explicit BufferPool(std::size_t bytes) : bytes_(bytes) {}
    ~BufferPool() {
        for (auto* b : free_)
            delete[] b;
    }

    std::size_t bytes() const { return bytes_; }
    int made() const {
        std::lock_guard lock(mutex_);
        return made_;
    }

    std::uint8_t* acquire() {
        std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            std::uint8_t* b = free_.back();
            free_.pop_back();
            return b;
        }
        ++made_;
        return new std::uint8_t[bytes_];  // left uninitialised: every byte is written by the scaler
    }

    void release(std::uint8_t* b) {
        std::lock_guard lock(mutex_);
        if (free_.size() < kept)
            free_.push_back(b);
        else
            delete[] b;
    }

private:
    static constexpr std::size_t kept = 8;
    const std::size_t bytes_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t*> free_;
    int made_ = 0;
};

FrameScaler::FrameScaler() = default;

FrameScaler::~FrameScaler() {
    if (context_)
        sws_freeContext(context_);
}

int FrameScaler::buffersMade() const { return pool_ ? pool_->made() : 0; }

BitmapRef FrameScaler::scale(const BitmapRef& source, QSize size) {
    if (!source)
        return source;
    if (size.isEmpty())
        throw PlatformError("FrameScaler", 1, "Cannot scale a frame to an empty size");
    const QSize sourceSize(source->width(), source->height());
    if (sourceSize == size)
        return source;
    if (!context_ || from_ != sourceSize || to_ != size) {
        const AVPixelFormat format = source->format() == PixelFormat::BGRA ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA;
        context_ = sws_getCachedContext(context_, sourceSize.width(), sourceSize.height(), format, size.width(),
                                        size.height(), format, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!context_)
            throw PlatformError("FrameScaler", 2, "Cannot set up frame scaling");
        from_ = sourceSize;
        to_ = size;
    }
    const int stride = size.width() * 4;
    const std::size_t bytes = static_cast<std::size_t>(stride) * size.height();
    if (!pool_ || pool_->bytes() != bytes)
        pool_ = std::make_shared<BufferPool>(bytes);
    std::uint8_t* out = pool_->acquire();
    const std::uint8_t* srcPlanes[4] = {source->data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {source->bytesPerRow(), 0, 0, 0};
    std::uint8_t* dstPlanes[4] = {out, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {stride, 0, 0, 0};
    sws_scale(context_, srcPlanes, srcStrides, 0, sourceSize.height(), dstPlanes, dstStrides);
    std::weak_ptr<BufferPool> pool = pool_;
    return Bitmap::wrap(size.width(), size.height(), stride, source->format(), source->alpha(), out, [pool, out] {
        if (auto p = pool.lock())
            p->release(out);
        else
            delete[] out;
    });
}

}  // namespace platform
