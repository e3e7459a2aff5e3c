#include "Features/Overlay/CaptureTypeToggle.h"

#include "App/AppState.h"
#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SymbolIcon.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace zentola {

CaptureTypeToggle::CaptureTypeToggle(AppState& appState, QWidget* parent) : QWidget(parent), appState_(appState) {
    setFixedSize(82, 44);
    setMouseTracking(true);
    connect(&appState_, &AppState::captureTypeChanged, this, [this] { update(); });
}

std::optional<CaptureType> CaptureTypeToggle::choiceAt(const QPointF& point) const {
    if (photoRect().contains(point))
        return CaptureType::photo;
    if (videoRect().contains(point))
        return CaptureType::video;
    return std::nullopt;
}

void CaptureTypeToggle::mouseMoveEvent(QMouseEvent* event) {
    const auto at = choiceAt(event->position());
    if (at != hovered_) {
        hovered_ = at;
        update();
    }
    event->accept();
}

void CaptureTypeToggle::leaveEvent(QEvent* event) {
    hovered_.reset();
    update();
    QWidget::leaveEvent(event);
}

void CaptureTypeToggle::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? choiceAt(event->position()) : std::nullopt;
    event->accept();
}

void CaptureTypeToggle::mouseReleaseEvent(QMouseEvent* event) {
    const auto pressed = pressed_;
    pressed_.reset();
    event->accept();
    if (pressed && event->button() == Qt::LeftButton && choiceAt(event->position()) == pressed)
        appState_.setCaptureType(*pressed);
}

bool CaptureTypeToggle::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const auto at = choiceAt(help->pos());
        if (at)
            QToolTip::showText(help->globalPos(),
                               *at == CaptureType::photo ? QStringLiteral("Screenshot")
                                                         : QStringLiteral("Screen Recording"),
                               this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

QColor CaptureTypeToggle::symbolColor(CaptureType type) const {
    if (appState_.captureType() != type)
        return OverlayStyle::secondary();
    return type == CaptureType::photo ? OverlayStyle::primary() : OverlayStyle::red();
}

std::optional<QColor> CaptureTypeToggle::selectionFill(CaptureType type) const {
    if (appState_.captureType() != type)
        return std::nullopt;
    return OverlayStyle::withOpacity(type == CaptureType::photo ? OverlayStyle::accent() : OverlayStyle::red(), 0.2);
}

void CaptureTypeToggle::paintChoice(QPainter& p, CaptureType type, const QRectF& r) {
    const bool selected = appState_.captureType() == type;
    p.setPen(Qt::NoPen);
    if (hovered_ == type && !selected) {
        p.setBrush(OverlayStyle::withOpacity(OverlayStyle::primary(), 0.05));
        p.drawRoundedRect(r, 10, 10);
    }
    if (const auto fill = selectionFill(type)) {
        p.setBrush(*fill);
        p.drawRoundedRect(r, 10, 10);
    }
    const QRectF symbol(r.center().x() - 9, r.center().y() - 9, 18, 18);
    SymbolIcon::paint(p, type == CaptureType::photo ? QStringLiteral("camera") : QStringLiteral("video"), symbol,
                      symbolColor(type), selected ? 1.9 : 1.4, selected);
}

void CaptureTypeToggle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(OverlayStyle::withOpacity(OverlayStyle::primary(), 0.05));
    p.drawRoundedRect(QRectF(rect()), 12, 12);
    paintChoice(p, CaptureType::photo, photoRect());
    paintChoice(p, CaptureType::video, videoRect());
}

}  // namespace zentola
