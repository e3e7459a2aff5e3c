#include "Services/FlashWindow.h"

#include <QPainter>

namespace zentola {

FlashWindow::FlashWindow(const QRect& geometry)
    : QWidget(nullptr, Qt::Window | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint |
                           Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Zentola Flash"));
    setGeometry(geometry);
}

void FlashWindow::setAlpha(double alpha) {
    alpha_ = alpha;
    update();
}

void FlashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), QColor::fromRgbF(1, 1, 1, static_cast<float>(alpha_)));
}

}  // namespace zentola
