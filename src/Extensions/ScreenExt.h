#pragma once

#include "platform/display/Screen.h"

#include <QtGlobal>

#include <optional>

namespace zentola {

// Conveniences on the platform's display object.
struct ScreenExt {
    // The display's number from its device description entry "NSScreenNumber"; none when the entry
    // is missing or not a number that fits in 32 unsigned bits.
    static std::optional<quint32> displayID(const platform::Screen& screen);
    static std::optional<quint32> displayID(const platform::ScreenRef& screen);

    // The first connected display, in list order, whose frame contains the pointer; none when the
    // pointer is over no display.
    static platform::ScreenRef screenWithMouse();

    // The first connected display, in list order, with the given number; none when none has it.
    static platform::ScreenRef screenWithDisplayID(quint32 displayID);

    // The desktop's rule for a point in an unflipped rectangle: left and top edges inside, right
    // and bottom edges outside.
    static bool mouseInRect(const QPointF& point, const QRectF& rect);
};

}  // namespace zentola
