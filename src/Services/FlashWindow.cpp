#include "Services/FlashWindow.h"

#include <QPainter>

namespace zentola {

FlashWindow::FlashWindow(const QRect& geometry, bool fades)
    : QWidget(nullptr, Qt::Window | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint |
                           Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus),
      fades_(fades) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Zentola Flash"));
    setGeometry(geometry);
    setAlpha(alpha_);
}

void FlashWindow::setAlpha(double alpha) {
    alpha_ = alpha;
    if (fades_)
        setWindowOpacity(alpha);
}

void FlashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
}

}  // namespace zentola
