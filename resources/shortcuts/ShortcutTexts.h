#pragma once

#include <QString>

#include <optional>

namespace GlobalShortcuts {

// The English texts of the shortcut recorder and display, by key.
class ShortcutTexts {
public:
    static std::optional<QString> text(const QString& key);
};

}  // namespace GlobalShortcuts
