#pragma once

#include "Features/Overlay/OverlayCursor.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>

#include <optional>

class QWidget;

namespace zentola {

// Chooses the cursor over the selection editor: a resize cursor over a handle, the open hand inside
// the rectangle while Alt (the move modifier) is held, the crosshair elsewhere. Watches the editor's
// pointer movements and the modifier keys; leaves the cursor alone while a drag runs.
class CursorTrackingLayer : public QObject {
    Q_OBJECT

public:
    explicit CursorTrackingLayer(QWidget* view);
    ~CursorTrackingLayer() override;

    // The editor's rectangle (its y-down space), hit diameter of a handle and whether a drag runs.
    void update(const std::optional<QRectF>& rect, double handleHitArea, bool isDragging);

    // The cursor for a pointer at point: the nearest handle within half the hit diameter (the
    // earlier in order on a tie, as a press picks it), else the open hand inside the rectangle
    // with the move modifier held, else the crosshair.
    static OverlayCursor cursorAt(const QPointF& point, const std::optional<QRectF>& rect, double handleHitArea,
                                  bool moveModifierHeld);

    // Sets the cursor on the editor at once; it stays until something sets another.
    void setCursor(OverlayCursor cursor);
    OverlayCursor currentCursor() const { return current_; }

    // Re-decides for where the pointer is now, with the given modifier state.
    void updateCursorForCurrentLocation(bool moveModifierHeld);

    const std::optional<QRectF>& rect() const { return rect_; }
    bool isDragging() const { return isDragging_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCursorForPoint(const QPointF& point, bool moveModifierHeld);

    QPointer<QWidget> view_;
    std::optional<QRectF> rect_;
    double handleHitArea_ = 24;
    bool isDragging_ = false;
    OverlayCursor current_ = OverlayCursor::arrow;
};

}  // namespace zentola
