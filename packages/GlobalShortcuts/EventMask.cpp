#include "packages/GlobalShortcuts/EventMask.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace GlobalShortcuts {

std::optional<int> EventMask::typeOf(const QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (isModifierKey(static_cast<const QKeyEvent*>(event)->key()))
            return flagsChanged;
        return event->type() == QEvent::KeyPress ? keyDown : keyUp;
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

bool EventMask::isModifierKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

bool EventMask::matches(quint64 mask, const QEvent* event) {
    auto type = typeOf(event);
    return type && (mask & bit(*type));
}

}  // namespace GlobalShortcuts
