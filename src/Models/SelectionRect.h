#pragma once

#include "platform/display/Screen.h"

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QtGlobal>

#include <optional>

namespace zentola {

// The user's rectangle, in points in its own display's space: origin at that display's top-left
// corner, y down. Size may be negative while a resize crosses over; consumers standardise it.
struct SelectionRect {
    QPointF origin;
    QSizeF size;
    quint32 screenDisplayID = 0;

    QRectF rect() const { return QRectF(origin, size); }

    // The first connected display, in list order, whose number is screenDisplayID; none when it
    // is no longer connected.
    platform::ScreenRef screen() const;

    // JSON object {"origin": [x, y], "size": [w, h], "screenDisplayID": n}.
    QByteArray toJson() const;
    // No value unless all three keys are present with the right shapes and finite numbers.
    static std::optional<SelectionRect> fromJson(const QByteArray& json);

    // Field by field, exactly (no fuzzy comparison).
    friend bool operator==(const SelectionRect& a, const SelectionRect& b);
};

}  // namespace zentola
