#include "packages/GlobalShortcuts/RunLoopLocalEventMonitor.h"

#include "packages/GlobalShortcuts/EventMask.h"

#include <QApplication>
#include <QWidget>

namespace GlobalShortcuts {

namespace {

// The widget a key event is first delivered to; it travels on to parents only when ignored, and
// the monitor must see each key once.
QObject* firstKeyReceiver() {
    if (QWidget* grabber = QWidget::keyboardGrabber())
        return grabber;
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() ? popup->focusWidget() : popup;
    return QApplication::focusWidget();
}

}  // namespace

RunLoopLocalEventMonitor::RunLoopLocalEventMonitor(quint64 events, Callback callback)
    : events_(events), callback_(std::move(callback)) {}

RunLoopLocalEventMonitor::~RunLoopLocalEventMonitor() { stop(); }

RunLoopLocalEventMonitor* RunLoopLocalEventMonitor::start() {
    if (!started_ && qApp) {
        qApp->installEventFilter(this);
        started_ = true;
    }
    return this;
}

void RunLoopLocalEventMonitor::stop() {
    if (started_ && qApp)
        qApp->removeEventFilter(this);
    started_ = false;
}

bool RunLoopLocalEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (!EventMask::matches(events_, event) || !watched->isWidgetType())
        return false;
    QObject* first = firstKeyReceiver();
    if (first ? watched != first : !static_cast<QWidget*>(watched)->isWindow())
        return false;
    return callback_(event) == nullptr;
}

}  // namespace GlobalShortcuts
