#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace zentola {

// The overlay's small line icons, drawn by name ("camera", "macwindow", "record.circle", ...).
struct SymbolIcon {
    // Draws the symbol centred in box. filled picks the solid variant where the symbol has one;
    // weight is the stroke width in points. Unknown names draw nothing and answer false.
    static bool paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& colour, double weight,
                      bool filled = false);
    // Whether a symbol of that name exists.
    static bool exists(const QString& name);
};

}  // namespace zentola
