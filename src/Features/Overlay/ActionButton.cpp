#include "Features/Overlay/ActionButton.h"

#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SymbolIcon.h"

#include <QPainter>
#include <QVariantAnimation>

namespace zentola {

ActionButton::ActionButton(const QString& iconName, const QString& label, const QColor& color, QWidget* parent)
    : QAbstractButton(parent), hoverAnimation_(new QVariantAnimation(this)) {
    setFixedSize(60, 50);
    setFocusPolicy(Qt::NoFocus);
    hoverAnimation_->setDuration(100);
    hoverAnimation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(hoverAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        hoverLevel_ = v.toDouble();
        update();
    });
    setLook(iconName, label, color);
}

void ActionButton::setLook(const QString& iconName, const QString& label, const QColor& color) {
    iconName_ = iconName;
    label_ = label;
    color_ = color;
    setAccessibleName(label);
    update();
}

void ActionButton::setHovering(bool hovering) {
    isHovering_ = hovering;
    hoverAnimation_->stop();
    hoverAnimation_->setStartValue(hoverLevel_);
    hoverAnimation_->setEndValue(hovering ? 1.0 : 0.0);
    hoverAnimation_->start();
}

void ActionButton::enterEvent(QEnterEvent* event) {
    setHovering(true);
    QAbstractButton::enterEvent(event);
}

void ActionButton::leaveEvent(QEvent* event) {
    setHovering(false);
    QAbstractButton::leaveEvent(event);
}

void ActionButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    if (hoverLevel_ > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(OverlayStyle::withOpacity(color_, 0.15 * hoverLevel_));
        p.drawRoundedRect(r, 12, 12);
    }
    const double symbol = 20, label = 12, total = symbol + 2 + label;
    const double top = (r.height() - total) / 2;
    SymbolIcon::paint(p, iconName_, QRectF(0, top, r.width(), symbol), color_, 1.6);
    p.setPen(color_);
    p.setFont(OverlayStyle::font(10, QFont::Medium));
    p.drawText(QRectF(0, top + symbol + 2, r.width(), label), Qt::AlignCenter, label_);
}

}  // namespace zentola
