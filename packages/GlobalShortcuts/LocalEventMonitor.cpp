#include "packages/GlobalShortcuts/LocalEventMonitor.h"

#include "packages/GlobalShortcuts/EventMask.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace GlobalShortcuts {

namespace {

// The widget a key event is delivered to first; it goes on to the parents only when ignored.
QObject* firstKeyReceiver() {
    if (QWidget* grabber = QWidget::keyboardGrabber())
        return grabber;
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() ? popup->focusWidget() : popup;
    return QApplication::focusWidget();
}

}  // namespace

LocalEventMonitor::LocalEventMonitor(quint64 events, Callback callback)
    : events_(events), callback_(std::move(callback)) {}

LocalEventMonitor::~LocalEventMonitor() { stop(); }

LocalEventMonitor* LocalEventMonitor::start() {
    if (!started_ && qApp) {
        qApp->installEventFilter(this);
        started_ = true;
    }
    return this;
}

void LocalEventMonitor::stop() {
    if (started_ && qApp)
        qApp->removeEventFilter(this);
    started_ = false;
}

bool LocalEventMonitor::isFirstSighting(QObject* watched, QEvent* event) {
    // Windows pass their events on to widgets; the widget's sighting is the one that counts.
    if (!watched->isWidgetType())
        return false;
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        QObject* first = firstKeyReceiver();
        return first ? watched == first : static_cast<QWidget*>(watched)->isWindow();
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    MouseSeen seen{event->type(), mouse->timestamp(), mouse->globalPosition(), int(mouse->button())};
    if (seen.type == lastMouse_.type && seen.timestamp == lastMouse_.timestamp &&
        seen.globalPosition == lastMouse_.globalPosition && seen.button == lastMouse_.button)
        return false;
    lastMouse_ = seen;
    return true;
}

bool LocalEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (!EventMask::matches(events_, event) || !isFirstSighting(watched, event))
        return false;
    return callback_(event) == nullptr;
}

}  // namespace GlobalShortcuts
