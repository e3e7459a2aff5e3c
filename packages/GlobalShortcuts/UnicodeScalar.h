#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace GlobalShortcuts {

// The character of a code point; none for values that are no Unicode scalar value (negative,
// above 0x10FFFF, or a surrogate).
std::optional<QString> characterFromUnicodeScalar(qint64 value);

}  // namespace GlobalShortcuts
