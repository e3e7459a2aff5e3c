#pragma once

#include <QCursor>

namespace zentola {

// The cursor shapes the overlay sets, by name, so the choice can be checked apart from the image.
enum class OverlayCursor {
    arrow,
    crosshair,
    openHand,
    closedHand,
    resizeLeftRight,
    resizeUpDown,
    diagonalNWSE,
    diagonalNESW,
};

// The toolkit cursor of a shape. The two diagonals are drawn once, on first use, and kept.
QCursor cursorFor(OverlayCursor shape);

}  // namespace zentola
