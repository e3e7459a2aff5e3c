#include "Features/Overlay/ModeButton.h"

#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SymbolIcon.h"

#include <QPainter>

namespace zentola {

ModeButton::ModeButton(CaptureMode mode, QWidget* parent) : QAbstractButton(parent), mode_(mode) {
    setFixedSize(60, 50);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(mode.displayName());
}

void ModeButton::setSelected(bool selected) {
    if (isSelected_ == selected)
        return;
    isSelected_ = selected;
    update();
}

void ModeButton::enterEvent(QEnterEvent* event) {
    isHovering_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ModeButton::leaveEvent(QEvent* event) {
    isHovering_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void ModeButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.setPen(Qt::NoPen);
    if (isHovering_ && !isSelected_) {
        p.setBrush(OverlayStyle::withOpacity(OverlayStyle::primary(), 0.05));
        p.drawRoundedRect(r, 12, 12);
    }
    if (isSelected_) {
        p.setBrush(OverlayStyle::withOpacity(OverlayStyle::accent(), 0.2));
        p.drawRoundedRect(r, 12, 12);
    }
    const QColor fg = isSelected_ ? OverlayStyle::primary() : OverlayStyle::secondary();
    // Symbol of 18 points over a 10-point label, 2 apart, centred as a pair.
    const double symbol = 20, label = 12, total = symbol + 2 + label;
    const double top = (r.height() - total) / 2;
    SymbolIcon::paint(p, mode_.iconName(), QRectF(0, top, r.width(), symbol), fg, isSelected_ ? 1.9 : 1.4,
                      isSelected_);
    p.setPen(fg);
    p.setFont(OverlayStyle::font(10, QFont::Medium));
    p.drawText(QRectF(0, top + symbol + 2, r.width(), label), Qt::AlignCenter, mode_.displayName());
}

}  // namespace zentola
