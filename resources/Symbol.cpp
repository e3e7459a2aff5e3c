#include "resources/Symbol.h"

#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace zentola {

QPixmap Symbol::pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    if (name.isEmpty() || name.contains('/'))
        return {};
    QSvgRenderer renderer(QStringLiteral(":/bundle/symbols/") + name + ".svg");
    if (!renderer.isValid())
        return {};
    const int pixels = int(std::ceil(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    // Drawn in black; the colour replaces it wherever the symbol covers.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap out = QPixmap::fromImage(image);
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

QIcon Symbol::icon(const QString& name, const QColor& color, const QColor& selected) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        icon.addPixmap(pixmap(name, size, color));
        if (selected.isValid())
            icon.addPixmap(pixmap(name, size, selected), QIcon::Selected);
    }
    return icon;
}

}  // namespace zentola
