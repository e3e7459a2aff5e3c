#pragma once

#include "packages/GlobalShortcuts/Shortcut.h"

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

#include <optional>

namespace GlobalShortcuts {

// The name under which an application declares one user-configurable shortcut. Names are equal
// when their raw values are; the default takes no part.
class Name {
public:
    Name() = default;
    // Stores the default when nothing is stored for the name yet, and sets the package up once.
    explicit Name(const QString& rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);
    // A name rebuilt from its raw value: no default.
    static Name fromRawValue(const QString& rawValue) { return Name(rawValue); }

    const QString& rawValue() const { return rawValue_; }
    const std::optional<Shortcut>& defaultShortcut() const { return defaultShortcut_; }

    // Read and written through the shortcut storage.
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut>& shortcut) const;

    // The application's three shortcuts, made on first use.
    static const Name& openOverlay();
    static const Name& instantCapture();
    static const Name& quickRecord();

    friend bool operator==(const Name& a, const Name& b) { return a.rawValue_ == b.rawValue_; }

private:
    QString rawValue_;
    std::optional<Shortcut> defaultShortcut_;
};

inline size_t qHash(const Name& name, size_t seed = 0) { return ::qHash(name.rawValue(), seed); }

}  // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::Name)

template <>
struct std::hash<GlobalShortcuts::Name> {
    size_t operator()(const GlobalShortcuts::Name& n) const noexcept { return GlobalShortcuts::qHash(n); }
};
