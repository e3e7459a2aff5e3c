#include "Models/CaptureMode.h"

namespace zentola {

QString CaptureMode::rawValue() const {
    switch (v_) {
    case screen: return QStringLiteral("screen");
    case window: return QStringLiteral("window");
    case rect: return QStringLiteral("rect");
    }
    return {};
}

QString CaptureMode::displayName() const {
    switch (v_) {
    case screen: return QStringLiteral("Screen");
    case window: return QStringLiteral("Window");
    case rect: return QStringLiteral("Area");
    }
    return {};
}

QString CaptureMode::iconName() const {
    switch (v_) {
    case screen: return QStringLiteral("rectangle.dashed");
    case window: return QStringLiteral("macwindow");
    case rect: return QStringLiteral("crop");
    }
    return {};
}

std::optional<CaptureMode> CaptureMode::fromRawValue(const QString& raw) {
    for (CaptureMode m : allCases())
        if (m.rawValue() == raw)
            return m;
    return std::nullopt;
}

}  // namespace zentola
