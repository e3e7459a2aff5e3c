#include "Features/Settings/SettingsTab.h"

namespace zentola {

QString SettingsTab::rawValue() const {
    switch (v_) {
    case general: return QStringLiteral("general");
    case screenshots: return QStringLiteral("screenshots");
    case video: return QStringLiteral("video");
    case shortcuts: return QStringLiteral("shortcuts");
    case about: return QStringLiteral("about");
    }
    return {};
}

QString SettingsTab::label() const {
    switch (v_) {
    case general: return QStringLiteral("General");
    case screenshots: return QStringLiteral("Screenshots");
    case video: return QStringLiteral("Video");
    case shortcuts: return QStringLiteral("Shortcuts");
    case about: return QStringLiteral("About");
    }
    return {};
}

QString SettingsTab::icon() const {
    switch (v_) {
    case general: return QStringLiteral("gearshape");
    case screenshots: return QStringLiteral("camera.viewfinder");
    case video: return QStringLiteral("video");
    case shortcuts: return QStringLiteral("keyboard");
    case about: return QStringLiteral("info.circle");
    }
    return {};
}

std::optional<SettingsTab> SettingsTab::fromRawValue(const QString& raw) {
    for (SettingsTab tab : allCases())
        if (tab.rawValue() == raw)
            return tab;
    return std::nullopt;
}

}  // namespace zentola
