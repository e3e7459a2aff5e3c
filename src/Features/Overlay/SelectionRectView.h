#pragma once

#include "Features/Overlay/ResizeHandle.h"
#include "platform/display/Screen.h"

#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <optional>

namespace zentola {

class AppState;
class CursorTrackingLayer;

// The editor of the one selection rectangle, over one display: drag to draw a new rectangle,
// Alt-drag inside it to move it, drag a handle to resize it. Every step goes to the shared state.
class SelectionRectView : public QWidget {
    Q_OBJECT

public:
    SelectionRectView(AppState& appState, platform::ScreenRef screen, QWidget* parent = nullptr);

    static constexpr double handleSize = 14;
    static constexpr double handleHitArea = 24;
    static constexpr double borderWidth = 2;
    static constexpr double minSize = 10;
    // Distances a press must travel before a drag starts.
    static constexpr double drawingMinimumDistance = 5;
    static constexpr double handleMinimumDistance = 10;

    // The shared selection when it belongs to this display.
    std::optional<QRectF> currentRect() const;
    // The overlay's active display is this one.
    bool isActive() const;
    // The shared selection belongs to this display.
    bool isOwning() const;

    bool isDraggingRect() const { return isDraggingRect_; }
    bool isDraggingHandle() const { return isDraggingHandle_; }
    bool isCreatingNewRect() const { return isCreatingNewRect_; }
    const std::optional<QRectF>& dragStartRect() const { return dragStartRect_; }
    CursorTrackingLayer* cursorLayer() const { return cursorLayer_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Gesture { none, drawing, handle };

    void storeRect(const QRectF& rect);
    void drawingChanged(const QPointF& start, const QPointF& location, bool moveModifierHeld);
    void drawingEnded(bool moveModifierHeld);
    void handleChanged(ResizeHandle handle, const QSizeF& translation);
    void handleEnded();
    void syncCursorLayer();

    AppState& appState_;
    platform::ScreenRef screen_;
    bool isDraggingRect_ = false;
    bool isDraggingHandle_ = false;
    bool isCreatingNewRect_ = false;
    std::optional<QRectF> dragStartRect_;
    CursorTrackingLayer* cursorLayer_;

    // The press that may become a drag.
    Gesture pending_ = Gesture::none;
    bool started_ = false;
    QPointF pressPoint_;
    ResizeHandle pressedHandle_;
    QRectF handleRect_;
};

}  // namespace zentola
