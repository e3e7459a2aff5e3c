#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// Byte order of one 32-bit pixel in memory.
enum class PixelFormat { BGRA, RGBA };

// What the fourth byte means.
enum class AlphaMode { opaque, premultiplied, straight };

class Bitmap;
using BitmapRef = std::shared_ptr<const Bitmap>;

// A captured frame or decoded picture: 32-bit pixels, rows top to bottom. Immutable once made and
// shared by reference, so a frame travels from grab to encoder without being copied.
class Bitmap {
public:
    // Takes the pixels. Throws PlatformError when the sizes are not positive, when bytesPerRow is
    // below width * 4 or when the buffer is shorter than height * bytesPerRow.
    static BitmapRef create(int width, int height, int bytesPerRow, PixelFormat format, AlphaMode alpha,
                            std::vector<std::uint8_t> pixels);
    // Wraps memory owned elsewhere (a shared-memory segment, an encoder buffer); release runs when
    // the last reference goes.
    static BitmapRef wrap(int width, int height, int bytesPerRow, PixelFormat format, AlphaMode alpha,
                          const std::uint8_t* data, std::function<void()> release);
    // Copies a QImage, converting it to straight or premultiplied BGRA as it stands.
    static BitmapRef fromQImage(const QImage& image);

    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return bytesPerRow_; }
    PixelFormat format() const { return format_; }
    AlphaMode alpha() const { return alpha_; }
    const std::uint8_t* data() const { return data_; }
    const std::uint8_t* row(int y) const { return data_ + static_cast<std::size_t>(y) * bytesPerRow_; }
    std::size_t byteCount() const { return static_cast<std::size_t>(height_) * bytesPerRow_; }

    // A QImage over the same pixels (no copy); valid while this bitmap lives. Keep a BitmapRef.
    QImage asQImage() const;

    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

private:
    Bitmap() = default;
    static void validate(int width, int height, int bytesPerRow, std::size_t available);

    int width_ = 0;
    int height_ = 0;
    int bytesPerRow_ = 0;
    PixelFormat format_ = PixelFormat::BGRA;
    AlphaMode alpha_ = AlphaMode::opaque;
    const std::uint8_t* data_ = nullptr;
    std::vector<std::uint8_t> owned_;
    std::function<void()> release_;
};

}  // namespace platform
