#include "resources/Bundle.h"

#include <QFileInfo>

namespace zentola {
namespace {

const QString root = QStringLiteral(":/bundle/");

std::optional<QString> existing(const QString& path) {
    if (QFileInfo(path).isFile())
        return path;
    return std::nullopt;
}

}  // namespace

QString Bundle::identifier() {
    return QStringLiteral("com.zentola.Zentola");
}

std::optional<QString> Bundle::resourcePath(const QString& name, const QString& extension) {
    if (name.isEmpty() || name.contains('/') || extension.contains('/'))
        return std::nullopt;
    return existing(root + name + (extension.isEmpty() ? QString() : "." + extension));
}

std::optional<QString> Bundle::imagePath(const QString& name) {
    if (name.isEmpty() || name.contains('/'))
        return std::nullopt;
    return existing(root + "images/" + name + ".svg");
}

std::optional<QString> Bundle::infoValue(const QString& key) {
    if (key == "CFBundleShortVersionString")
        return QStringLiteral(ZENTOLA_VERSION);
    if (key == "CFBundleVersion")
        return QStringLiteral(ZENTOLA_BUILD_NUMBER);
    if (key == "CFBundleIdentifier")
        return identifier();
    return std::nullopt;
}

}  // namespace zentola
