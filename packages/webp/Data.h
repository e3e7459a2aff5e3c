#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace webp {

// Bytes handed out by the package (an encoded file, decoded pixels). It owns the library's buffer
// as it came, so nothing is copied; copies share it, and the last one releases it.
class Data {
public:
    Data() = default;

    // Takes over `memory`, released with the library's free (the C allocator's); `bytes` points
    // `size` bytes into it.
    static Data adopt(void* memory, const std::uint8_t* bytes, std::size_t size);
    static Data adopt(std::uint8_t* memory, std::size_t size) { return adopt(memory, memory, size); }

    const std::uint8_t* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<const std::uint8_t> bytes() const { return {bytes_, size_}; }
    operator std::span<const std::uint8_t>() const { return bytes(); }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

private:
    std::shared_ptr<void> owner_;
    const std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace webp
