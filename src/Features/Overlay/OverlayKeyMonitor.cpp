#include "Features/Overlay/OverlayKeyMonitor.h"

#include "Features/Overlay/OverlayWindowController.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace zentola {

OverlayKeyMonitor::OverlayKeyMonitor(OverlayWindowController* controller) : controller_(controller) {
    QCoreApplication::instance()->installEventFilter(this);
}

OverlayKeyMonitor::~OverlayKeyMonitor() { uninstall(); }

void OverlayKeyMonitor::uninstall() {
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    controller_ = nullptr;
}

bool OverlayKeyMonitor::eventFilter(QObject*, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !controller_)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    return controller_->handleKeyEvent(key) == nullptr;
}

}  // namespace zentola
