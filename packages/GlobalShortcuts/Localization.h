#pragma once

#include <QString>

namespace GlobalShortcuts {

// The package's text for a key, or the key itself when there is none.
QString localized(const QString& key);
// The text of a key with "%@" replaced by the argument.
QString localizedFormat(const QString& key, const QString& argument);

}  // namespace GlobalShortcuts
