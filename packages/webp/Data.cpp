#include "packages/webp/Data.h"

#include <webp/types.h>

namespace webp {

Data Data::adopt(void* memory, const std::uint8_t* bytes, std::size_t size) {
    Data d;
    d.owner_ = std::shared_ptr<void>(memory, [](void* p) { WebPFree(p); });
    d.bytes_ = bytes;
    d.size_ = size;
    return d;
}

}  // namespace webp
