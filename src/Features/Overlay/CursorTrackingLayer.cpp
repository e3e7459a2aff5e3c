#include "Features/Overlay/CursorTrackingLayer.h"

#include "Features/Overlay/ResizeHandle.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>


namespace zentola {

CursorTrackingLayer::CursorTrackingLayer(QWidget* view) : QObject(view), view_(view) {
    view->setMouseTracking(true);
    view->installEventFilter(this);
    // Modifier changes reach the application wherever the keyboard focus is.
    qApp->installEventFilter(this);
}

CursorTrackingLayer::~CursorTrackingLayer() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void CursorTrackingLayer::update(const std::optional<QRectF>& rect, double handleHitArea, bool isDragging) {
    rect_ = rect;
    handleHitArea_ = handleHitArea;
    isDragging_ = isDragging;
}

OverlayCursor CursorTrackingLayer::cursorAt(const QPointF& point, const std::optional<QRectF>& rect,
                                            double handleHitArea, bool moveModifierHeld) {
    if (!rect)
        return OverlayCursor::crosshair;
    if (const auto handle = ResizeHandle::at(point, *rect, handleHitArea))
        return handle->cursor();
    const QRectF r = rect->normalized();
    // Inside by the desktop's rule: left and top edges in, right and bottom out.
    const bool inside = point.x() >= r.left() && point.x() < r.right() && point.y() >= r.top() && point.y() < r.bottom();
    if (inside && moveModifierHeld)
        return OverlayCursor::openHand;
    return OverlayCursor::crosshair;
}

void CursorTrackingLayer::setCursor(OverlayCursor cursor) {
    current_ = cursor;
    if (view_)
        view_->setCursor(cursorFor(cursor));
}

void CursorTrackingLayer::updateCursorForPoint(const QPointF& point, bool moveModifierHeld) {
    if (isDragging_)
        return;
    setCursor(cursorAt(point, rect_, handleHitArea_, moveModifierHeld));
}

void CursorTrackingLayer::updateCursorForCurrentLocation(bool moveModifierHeld) {
    if (!view_ || !view_->window() || !view_->isVisible())
        return;
    updateCursorForPoint(view_->mapFromGlobal(QCursor::pos()), moveModifierHeld);
}

bool CursorTrackingLayer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        switch (event->type()) {
        case QEvent::Enter: {
            auto* e = static_cast<QEnterEvent*>(event);
            updateCursorForPoint(e->position(), e->modifiers() & Qt::AltModifier);
            break;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            // Moves with a button down belong to the editor's drags.
            if (e->buttons() != Qt::NoButton)
                break;
            updateCursorForPoint(e->position(), e->modifiers() & Qt::AltModifier);
            break;
        }
        case QEvent::Leave:
            setCursor(OverlayCursor::crosshair);
            break;
        default:
            break;
        }
        return false;
    }
    // Only the modifier key itself changes what a press would do.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* e = static_cast<QKeyEvent*>(event);
        if (e->key() == Qt::Key_Alt || e->key() == Qt::Key_AltGr)
            updateCursorForCurrentLocation(event->type() == QEvent::KeyPress);
    }
    return false;
}

}  // namespace zentola
