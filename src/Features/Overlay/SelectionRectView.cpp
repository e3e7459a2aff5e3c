#include "Features/Overlay/SelectionRectView.h"

#include "App/AppState.h"
#include "Extensions/ScreenExt.h"
#include "Features/Overlay/CursorTrackingLayer.h"
#include "Features/Overlay/OverlayStyle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace zentola {

SelectionRectView::SelectionRectView(AppState& appState, platform::ScreenRef screen, QWidget* parent)
    : QWidget(parent), appState_(appState), screen_(std::move(screen)), cursorLayer_(new CursorTrackingLayer(this)) {
    setAttribute(Qt::WA_NoSystemBackground);
    connect(&appState_, &AppState::selectionRectChanged, this, [this] {
        syncCursorLayer();
        update();
    });
    connect(&appState_, &AppState::activeScreenChanged, this, [this] { update(); });
    syncCursorLayer();
    cursorLayer_->updateCursorForCurrentLocation(false);
}

std::optional<QRectF> SelectionRectView::currentRect() const {
    const auto& selection = appState_.selectionRect();
    const auto id = ScreenExt::displayID(screen_);
    if (!selection || !id || selection->screenDisplayID != *id)
        return std::nullopt;
    return selection->rect();
}

bool SelectionRectView::isActive() const {
    return appState_.activeScreen() && screen_ && appState_.activeScreen() == screen_;
}

bool SelectionRectView::isOwning() const { return currentRect().has_value(); }

void SelectionRectView::syncCursorLayer() {
    cursorLayer_->update(currentRect(), handleHitArea, isDraggingRect_ || isDraggingHandle_ || isCreatingNewRect_);
}

void SelectionRectView::storeRect(const QRectF& rect) { appState_.updateSelectionRect(rect, screen_); }

void SelectionRectView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || pending_ != Gesture::none) {
        event->ignore();
        return;
    }
    const QPointF at = event->position();
    const auto rect = currentRect();
    if (rect && !isCreatingNewRect_) {
        if (auto handle = ResizeHandle::at(at, *rect, handleHitArea)) {
            pending_ = Gesture::handle;
            pressedHandle_ = *handle;
            handleRect_ = *rect;
        }
    }
    if (pending_ == Gesture::none && (isActive() || isOwning()))
        pending_ = Gesture::drawing;
    if (pending_ == Gesture::none) {
        event->ignore();
        return;
    }
    started_ = false;
    pressPoint_ = at;
    event->accept();
}

void SelectionRectView::mouseMoveEvent(QMouseEvent* event) {
    if (pending_ == Gesture::none || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    const QPointF at = event->position();
    const QPointF t = at - pressPoint_;
    if (!started_) {
        const double needed = pending_ == Gesture::handle ? handleMinimumDistance : drawingMinimumDistance;
        if (std::hypot(t.x(), t.y()) < needed)
            return;
        started_ = true;
    }
    if (pending_ == Gesture::handle)
        handleChanged(pressedHandle_, QSizeF(t.x(), t.y()));
    else
        drawingChanged(pressPoint_, at, event->modifiers() & Qt::AltModifier);
}

void SelectionRectView::mouseReleaseEvent(QMouseEvent* event) {
    if (pending_ == Gesture::none || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const Gesture gesture = pending_;
    const bool started = started_;
    pending_ = Gesture::none;
    started_ = false;
    if (!started)
        return;
    if (gesture == Gesture::handle)
        handleEnded();
    else
        drawingEnded(event->modifiers() & Qt::AltModifier);
}

void SelectionRectView::drawingChanged(const QPointF& s, const QPointF& l, bool moveModifierHeld) {
    const QSizeF t(l.x() - s.x(), l.y() - s.y());
    const auto rect = currentRect();
    if (rect && !isCreatingNewRect_ && !isDraggingRect_ && rect->normalized().contains(s) && moveModifierHeld) {
        isDraggingRect_ = true;
        dragStartRect_ = *rect;
        syncCursorLayer();
        cursorLayer_->setCursor(OverlayCursor::closedHand);
        storeRect(rect->translated(t.width(), t.height()));
    } else if (isDraggingRect_ && dragStartRect_) {
        storeRect(dragStartRect_->translated(t.width(), t.height()));
    } else {
        if (!isCreatingNewRect_) {
            isCreatingNewRect_ = true;
            syncCursorLayer();
            update();
        }
        storeRect(QRectF(std::min(s.x(), l.x()), std::min(s.y(), l.y()), std::abs(l.x() - s.x()),
                         std::abs(l.y() - s.y())));
    }
}

void SelectionRectView::drawingEnded(bool moveModifierHeld) {
    if (isDraggingRect_) {
        isDraggingRect_ = false;
        dragStartRect_.reset();
        syncCursorLayer();
        cursorLayer_->setCursor(moveModifierHeld ? OverlayCursor::openHand : OverlayCursor::crosshair);
    } else {
        isCreatingNewRect_ = false;
        syncCursorLayer();
    }
    update();
}

void SelectionRectView::handleChanged(ResizeHandle handle, const QSizeF& translation) {
    if (!isDraggingHandle_) {
        isDraggingHandle_ = true;
        // The handles sit on the rectangle as it is shown, so its edges are the ones to move.
        dragStartRect_ = handleRect_.normalized();
        syncCursorLayer();
    }
    if (dragStartRect_)
        storeRect(handle.resize(*dragStartRect_, translation, minSize));
}

void SelectionRectView::handleEnded() {
    isDraggingHandle_ = false;
    dragStartRect_.reset();
    syncCursorLayer();
}

void SelectionRectView::hideEvent(QHideEvent* event) {
    cursorLayer_->setCursor(OverlayCursor::arrow);
    QWidget::hideEvent(event);
}

void SelectionRectView::paintEvent(QPaintEvent*) {
    const auto rect = currentRect();
    if (!rect)
        return;
    const QRectF r = rect->normalized();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath dimming;
    dimming.setFillRule(Qt::OddEvenFill);
    dimming.addRect(QRectF(QPointF(0, 0), QSizeF(size())));
    dimming.addRect(r);
    p.fillPath(dimming, QColor::fromRgbF(0, 0, 0, 0.3f));

    p.setPen(QPen(OverlayStyle::accent(), borderWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);

    if (isCreatingNewRect_)
        return;
    for (ResizeHandle handle : ResizeHandle::allCases()) {
        const QPointF c = handle.position(r);
        // A soft shadow under the knob.
        p.setPen(Qt::NoPen);
        for (int i = 2; i >= 1; --i) {
            p.setBrush(QColor::fromRgbF(0, 0, 0, 0.2f / float(i + 1)));
            p.drawEllipse(c, handleSize / 2 + i, handleSize / 2 + i);
        }
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.5f), 1));
        p.drawEllipse(c, handleSize / 2, handleSize / 2);
    }
}

}  // namespace zentola
