#include "Features/Overlay/OverlayStyle.h"

#include <QApplication>
#include <QPalette>

namespace zentola {

QColor OverlayStyle::accent() { return QApplication::palette().color(QPalette::Active, QPalette::Highlight); }

QColor OverlayStyle::primary() { return QApplication::palette().color(QPalette::Active, QPalette::WindowText); }

QColor OverlayStyle::secondary() { return withOpacity(primary(), 0.55); }

QColor OverlayStyle::material() { return withOpacity(QApplication::palette().color(QPalette::Active, QPalette::Window), 0.82); }

QColor OverlayStyle::red() { return QColor(255, 59, 48); }

QColor OverlayStyle::withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
    return colour;
}

QFont OverlayStyle::font(double pointSize, QFont::Weight weight) {
    QFont f = QApplication::font();
    // Sizes are in points of the overlay's space, which are the widgets' pixels.
    f.setPixelSize(static_cast<int>(pointSize + 0.5));
    f.setWeight(weight);
    return f;
}

}  // namespace zentola
