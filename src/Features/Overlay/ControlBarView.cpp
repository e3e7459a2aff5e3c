#include "Features/Overlay/ControlBarView.h"

#include "App/AppState.h"
#include "Features/Overlay/ActionButton.h"
#include "Features/Overlay/CaptureTypeToggle.h"
#include "Features/Overlay/ModeButton.h"
#include "Features/Overlay/OverlayStyle.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

namespace zentola {

ControlBarView::ControlBarView(AppState& appState, std::function<void(CaptureMode)> onModeChanged,
                               std::function<void()> onCapture, std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent),
      appState_(appState),
      onModeChanged_(std::move(onModeChanged)),
      onCapture_(std::move(onCapture)),
      onCancel_(std::move(onCancel)),
      toggle_(new CaptureTypeToggle(appState, this)),
      captureButton_(new ActionButton(QString(), QString(), QColor(), this)),
      cancelButton_(new ActionButton(QStringLiteral("xmark"), QStringLiteral("Cancel"), OverlayStyle::secondary(), this)),
      springBack_(new QPropertyAnimation(this, "pos", this)) {
    auto* row = new QHBoxLayout(this);
    row->setSpacing(4);
    row->setContentsMargins(8, 6, 8, 6);
    auto divider = [this, row] {
        auto* d = new QWidget(this);
        d->setFixedSize(9, 30);  // 1 point of line, 4 of padding each side
        dividers_.push_back(d);
        row->addWidget(d, 0, Qt::AlignVCenter);
    };
    row->addWidget(toggle_, 0, Qt::AlignVCenter);
    divider();
    for (CaptureMode mode : CaptureMode::allCases()) {
        auto* button = new ModeButton(mode, this);
        modeButtons_[mode] = button;
        row->addWidget(button, 0, Qt::AlignVCenter);
        connect(button, &QAbstractButton::clicked, this, [this, mode] {
            if (onModeChanged_)
                onModeChanged_(mode);
        });
    }
    divider();
    row->addWidget(captureButton_, 0, Qt::AlignVCenter);
    row->addWidget(cancelButton_, 0, Qt::AlignVCenter);
    connect(captureButton_, &QAbstractButton::clicked, this, [this] {
        if (onCapture_)
            onCapture_();
    });
    connect(cancelButton_, &QAbstractButton::clicked, this, [this] {
        if (onCancel_)
            onCancel_();
    });

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.15f));
    shadow->setBlurRadius(40);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);

    // A spring that settles with a slight overshoot.
    springBack_->setDuration(350);
    QEasingCurve spring(QEasingCurve::OutBack);
    spring.setOvershoot(0.8);
    springBack_->setEasingCurve(spring);

    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    connect(&appState_, &AppState::currentModeChanged, this, &ControlBarView::updateSelection);
    connect(&appState_, &AppState::captureTypeChanged, this, &ControlBarView::updateCaptureButton);
    updateSelection();
    updateCaptureButton();
    adjustSize();
}

bool ControlBarView::isVideoMode() const { return appState_.captureType() == CaptureType::video; }

void ControlBarView::updateSelection() {
    for (auto& [mode, button] : modeButtons_)
        button->setSelected(appState_.currentMode() == mode);
}

void ControlBarView::updateCaptureButton() {
    if (isVideoMode())
        captureButton_->setLook(QStringLiteral("record.circle"), QStringLiteral("Record"), OverlayStyle::red());
    else
        captureButton_->setLook(QStringLiteral("camera.fill"), QStringLiteral("Capture"), OverlayStyle::accent());
}

void ControlBarView::setHomePosition(const QPoint& position) {
    home_ = position;
    if (springBack_->state() == QAbstractAnimation::Running)
        springBack_->setEndValue(home_);
    else
        placeAt(dragOffset_);
}

void ControlBarView::placeAt(const QPointF& offset) { move(home_ + offset.toPoint()); }

void ControlBarView::dragChanged(const QPointF& translation) {
    if (!isDragging_) {
        isDragging_ = true;
        springBack_->stop();
    }
    dragOffset_ = translation;
    placeAt(dragOffset_);
}

void ControlBarView::dragEnded(const QPointF& translation) {
    isDragging_ = false;
    if (const auto& stored = appState_.controlBarPosition())
        appState_.setControlBarPosition(*stored + translation);
    dragOffset_ = QPointF();
    springBack_->stop();
    springBack_->setStartValue(pos());
    springBack_->setEndValue(home_);
    springBack_->start();
}

bool ControlBarView::eventFilter(QObject* watched, QEvent* event) {
    const bool self = watched == this;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) {
            pressed_ = true;
            pressGlobal_ = e->globalPosition();
        }
        // A press on the bar itself must not reach the overlay below it.
        return self;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!pressed_ || !(e->buttons() & Qt::LeftButton))
            return false;
        const QPointF t = e->globalPosition() - pressGlobal_;
        if (!isDragging_ && std::hypot(t.x(), t.y()) < minimumDragDistance)
            return self;
        if (!isDragging_)
            if (auto* button = qobject_cast<QAbstractButton*>(watched))
                button->setDown(false);  // a drag that began on a button is no click
        dragChanged(t);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || !pressed_)
            return self;
        pressed_ = false;
        if (!isDragging_)
            return self;
        dragEnded(e->globalPosition() - pressGlobal_);
        return true;
    }
    default:
        return false;
    }
}

void ControlBarView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(OverlayStyle::material());
    p.drawRoundedRect(QRectF(rect()), 22, 22);
    p.setPen(QPen(OverlayStyle::withOpacity(OverlayStyle::primary(), 0.2), 1));
    for (QWidget* d : dividers_) {
        const double x = d->geometry().center().x() + 0.5;
        p.drawLine(QPointF(x, d->geometry().top()), QPointF(x, d->geometry().bottom() + 1));
    }
}

}  // namespace zentola
