#include "Models/CaptureType.h"

namespace zentola {

QString CaptureType::rawValue() const {
    return v_ == video ? QStringLiteral("video") : QStringLiteral("photo");
}

std::optional<CaptureType> CaptureType::fromRawValue(const QString& raw) {
    for (CaptureType t : allCases())
        if (t.rawValue() == raw)
            return t;
    return std::nullopt;
}

}  // namespace zentola
