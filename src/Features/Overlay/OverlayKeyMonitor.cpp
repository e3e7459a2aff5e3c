#include "Features/Overlay/OverlayKeyMonitor.h"

#include "Features/Overlay/OverlayWindowController.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/ModifierFlags.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/input/HotKeyCenter.h"
#include "platform/input/KeyCodeTable.h"

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
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !controller_)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress && controller_->handleKeyEvent(key) == nullptr)
        return true;
    return forwardToShortcuts(key);
}

bool OverlayKeyMonitor::forwardToShortcuts(QKeyEvent* key) {
    // While a menu is open or a recorder records, the package decides about keys itself.
    if (!GlobalShortcuts::isEnabled() || GlobalShortcuts::isMenuOpen() || key->isAutoRepeat())
        return false;
    const auto code = platform::KeyCodeTable::virtualKeyCode(*key);
    if (!code)
        return false;
    const bool press = key->type() == QEvent::KeyPress;
    platform::HotKeyEvent raw;
    raw.kind = press ? platform::HotKeyCenter::kindRawKeyDown : platform::HotKeyCenter::kindRawKeyUp;
    raw.keyCode = quint32(*code);
    raw.modifiers = quint32(GlobalShortcuts::ModifierFlags::fromQt(key->modifiers()).carbon());
    if (!press) {
        // The release belongs to the shortcut that was pressed, even when a modifier went up first.
        const auto held = heldShortcuts_.find(*code);
        if (held == heldShortcuts_.end())
            return false;
        raw.modifiers = held->second;
        heldShortcuts_.erase(held);
    }
    // A match is consumed, so the toolkit does not show the same event here again.
    const bool matched =
        GlobalShortcuts::SystemGlobalShortcuts::handleEvent(&raw) == platform::HotKeyCenter::noErr;
    if (matched && press)
        heldShortcuts_[*code] = *raw.modifiers;
    return matched;
}

}  // namespace zentola
