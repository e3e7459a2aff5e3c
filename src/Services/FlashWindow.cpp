#include "Services/FlashWindow.h"

#include <QPainter>
#include <QPaintEvent>

namespace zentola {

FlashWindow::FlashWindow(const QRect& geometry, bool fades)
    : QWidget(nullptr, Qt::Window | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint |
                           Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus),
      fades_(fades) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Every pixel is painted each time: no background fill first.
    setAttribute(Qt::WA_OpaquePaintEvent, !fades);
    setWindowTitle(QStringLiteral("Zentola Flash"));
    setGeometry(geometry);
    setAlpha(alpha_);
}

void FlashWindow::setAlpha(double alpha) {
    alpha_ = alpha;
    if (fades_)
        setWindowOpacity(alpha);
    else if (beneath_)
        update();
}

void FlashWindow::setBeneath(platform::BitmapRef beneath) {
    beneath_ = std::move(beneath);
    update();
}

void FlashWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (fades_ || !beneath_) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    // Only the part asked for: a whole display each animation step is the cost that counts.
    const QRect part = event->rect();
    const QImage picture = beneath_->asQImage();
    const double sx = double(picture.width()) / std::max(1, width()), sy = double(picture.height()) / std::max(1, height());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(part), picture, QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(part, QColor::fromRgbF(1, 1, 1, float(alpha_)));
}

}  // namespace zentola
