#pragma once

#include "Features/Overlay/OverlayCursor.h"
#include "Models/EnumCaseHash.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <array>
#include <optional>

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
    // The handle whose hit circle of diameter hitArea holds point: the nearest one, the earlier in
    // order on a tie. The cursor and a press both ask here, so they agree on a small rectangle.
    static std::optional<ResizeHandle> at(const QPointF& point, const QRectF& rect, double hitArea);

    bool isLeft() const { return v_ == topLeft || v_ == middleLeft || v_ == bottomLeft; }
    bool isTop() const { return v_ == topLeft || v_ == topCenter || v_ == topRight; }

private:
    Value v_;
};

}  // namespace zentola

template <>
struct std::hash<zentola::ResizeHandle> : zentola::EnumCaseHash<zentola::ResizeHandle> {};
