#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace zentola {

// The application's own symbols ("gearshape", "mic", ...), drawn in one colour like the desktop's
// symbolic icons, so no icon theme is needed.
class Symbol {
public:
    // size × size, sharp at the pixel ratio; a null pixmap for a name that is not built in.
    static QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);
    // For list rows and buttons: the common small sizes, in selected's colour on a selected row
    // when it is given.
    static QIcon icon(const QString& name, const QColor& color, const QColor& selected = QColor());
};

}  // namespace zentola
