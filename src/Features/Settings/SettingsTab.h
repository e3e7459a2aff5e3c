#pragma once

#include <QString>

#include <array>
#include <optional>

namespace zentola {

// The settings window's tabs, in sidebar order. The raw value is neither stored nor shown.
class SettingsTab {
public:
    enum Value { general, screenshots, video, shortcuts, about };

    constexpr SettingsTab(Value v = general) : v_(v) {}
    constexpr operator Value() const { return v_; }

    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString label() const;
    // The symbol shown beside the label.
    QString icon() const;
    static std::optional<SettingsTab> fromRawValue(const QString& raw);
    static constexpr std::array<SettingsTab, 5> allCases() { return {general, screenshots, video, shortcuts, about}; }

private:
    Value v_;
};

}  // namespace zentola
