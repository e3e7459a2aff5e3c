#include "packages/GlobalShortcuts/EventMask.h"

#include <QMouseEvent>

namespace GlobalShortcuts {

std::optional<int> EventMask::typeOf(const QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        return keyDown;
    case QEvent::KeyRelease:
        return keyUp;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        const bool press = event->type() == QEvent::MouseButtonPress;
        switch (static_cast<const QMouseEvent*>(event)->button()) {
        case Qt::LeftButton:
            return press ? leftMouseDown : leftMouseUp;
        case Qt::RightButton:
            return press ? rightMouseDown : rightMouseUp;
        default:
            return std::nullopt;
        }
    }
    default:
        return std::nullopt;
    }
}

bool EventMask::matches(quint64 mask, const QEvent* event) {
    auto type = typeOf(event);
    return type && (mask & bit(*type));
}

}  // namespace GlobalShortcuts
