#include "packages/GlobalShortcuts/UnicodeScalar.h"

namespace GlobalShortcuts {

std::optional<QString> characterFromUnicodeScalar(qint64 value) {
    if (value < 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    const char32_t scalar = static_cast<char32_t>(value);
    return QString::fromUcs4(&scalar, 1);
}

}  // namespace GlobalShortcuts
