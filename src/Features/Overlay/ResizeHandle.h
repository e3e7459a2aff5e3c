#pragma once

#include "Features/Overlay/OverlayCursor.h"
#include "Models/EnumCaseHash.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <array>

namespace zentola {

// The eight handles of the selection rectangle. Top is the smaller y: the overlay's y grows downward.
class ResizeHandle {
public:
    enum Value { topLeft, topCenter, topRight, middleLeft, middleRight, bottomLeft, bottomCenter, bottomRight };

    constexpr ResizeHandle(Value v = topLeft) : v_(v) {}
    constexpr operator Value() const { return v_; }

    static constexpr std::array<ResizeHandle, 8> allCases() {
        return {topLeft, topCenter, topRight, middleLeft, middleRight, bottomLeft, bottomCenter, bottomRight};
    }

    // The handle's point on the rectangle's standardised form.
    QPointF position(const QRectF& rect) const;
    // The rectangle after dragging this handle of start by translation: only the handle's own edges
    // move, then a width or height under minSize (by absolute value) is raised to it with the
    // opposite edge kept. A handle dragged well past the opposite edge gives a negative size.
    QRectF resize(const QRectF& start, const QSizeF& translation, double minSize) const;
    OverlayCursor cursor() const;

    bool isLeft() const { return v_ == topLeft || v_ == middleLeft || v_ == bottomLeft; }
    bool isTop() const { return v_ == topLeft || v_ == topCenter || v_ == topRight; }

private:
    Value v_;
};

}  // namespace zentola

template <>
struct std::hash<zentola::ResizeHandle> : zentola::EnumCaseHash<zentola::ResizeHandle> {};
