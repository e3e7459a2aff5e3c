#pragma once

#include <QColor>
#include <QFont>

namespace zentola {

// The overlay's colours and fonts, taken from the application's palette so the bar follows the
// desktop's light or dark look.
struct OverlayStyle {
    // The desktop's highlight colour.
    static QColor accent();
    // Foreground of selected and main content.
    static QColor primary();
    // Foreground of unselected and secondary content.
    static QColor secondary();
    // The bar's translucent backdrop.
    static QColor material();
    static QColor red();
    static QColor withOpacity(QColor colour, double opacity);
    // The system font at a point size and weight.
    static QFont font(double pointSize, QFont::Weight weight);
};

}  // namespace zentola
