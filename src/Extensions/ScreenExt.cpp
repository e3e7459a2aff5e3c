#include "Extensions/ScreenExt.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace zentola {

std::optional<quint32> ScreenExt::displayID(const platform::Screen& screen) {
    const QVariant v = screen.deviceDescription().value(QStringLiteral("NSScreenNumber"));
    switch (v.typeId()) {
    case QMetaType::UInt:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        bool ok = false;
        const double n = v.toDouble(&ok);
        if (!ok || !std::isfinite(n) || n < 0 || n > std::numeric_limits<quint32>::max())
            return std::nullopt;
        return static_cast<quint32>(n);
    }
    default:
        return std::nullopt;
    }
}

std::optional<quint32> ScreenExt::displayID(const platform::ScreenRef& screen) {
    if (!screen)
        return std::nullopt;
    return displayID(*screen);
}

bool ScreenExt::mouseInRect(const QPointF& p, const QRectF& r) {
    // Unflipped: the bottom edge belongs to the display below, the top edge to this one, so the
    // pointer on the top row of a display (y == maxY) is on it.
    const QRectF n = r.normalized();
    return p.x() >= n.left() && p.x() < n.right() && p.y() > n.top() && p.y() <= n.bottom();
}

platform::ScreenRef ScreenExt::screenWithMouse() {
    const QPointF mouse = platform::Screen::mouseLocation();
    for (const platform::ScreenRef& s : platform::Screen::screens())
        if (mouseInRect(mouse, s->frame()))
            return s;
    return nullptr;
}

platform::ScreenRef ScreenExt::screenWithDisplayID(quint32 id) {
    for (const platform::ScreenRef& s : platform::Screen::screens())
        if (displayID(*s) == id)
            return s;
    return nullptr;
}

}  // namespace zentola
