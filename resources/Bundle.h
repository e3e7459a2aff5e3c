#pragma once

#include <QString>

#include <optional>

namespace zentola {

// The application's own files and information entries, built into the program.
class Bundle {
public:
    static QString identifier();  // "com.zentola.Zentola"

    // A resource by name and extension ("shutter", "aiff"); no value when it is not built in.
    // The path opens with QFile.
    static std::optional<QString> resourcePath(const QString& name, const QString& extension);
    // An image by name ("menubar-icon", "menubar-lips", "AppIcon"); no value when missing.
    static std::optional<QString> imagePath(const QString& name);
    // "CFBundleShortVersionString", "CFBundleVersion" or "CFBundleIdentifier"; no value for others.
    static std::optional<QString> infoValue(const QString& key);
};

}  // namespace zentola
