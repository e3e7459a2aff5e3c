#include "App/HotkeyManager.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/Log.h"

#include <QPointer>
#include <QTimer>

namespace zentola {

HotkeyManager::HotkeyManager(QObject* parent) : QObject(parent) {}

void HotkeyManager::registerShortcuts(Callback onCapture, Callback onInstantCapture, Callback onQuickRecord) {
    captureCallback_ = std::move(onCapture);
    instantCaptureCallback_ = std::move(onInstantCapture);
    quickRecordCallback_ = std::move(onQuickRecord);

    using GlobalShortcuts::Name;
    const struct {
        const Name& name;
        const char* line;
        Callback HotkeyManager::*callback;
    } bindings[] = {
        {Name::openOverlay(), "[Zentola] Open overlay shortcut triggered", &HotkeyManager::captureCallback_},
        {Name::instantCapture(), "[Zentola] Instant capture shortcut triggered",
         &HotkeyManager::instantCaptureCallback_},
        {Name::quickRecord(), "[Zentola] Quick record shortcut triggered", &HotkeyManager::quickRecordCallback_},
    };
    QPointer<HotkeyManager> weak(this);
    for (const auto& b : bindings) {
        const char* line = b.line;
        auto member = b.callback;
        GlobalShortcuts::onKeyUp(b.name, [weak, line, member] {
            platform::logLine(line);
            // The trigger runs after the package has finished handling the key event.
            QTimer::singleShot(0, [weak, member] {
                if (weak && (weak.data()->*member))
                    (weak.data()->*member)();
            });
        });
    }
}

void HotkeyManager::unregister() {
    using GlobalShortcuts::Name;
    GlobalShortcuts::disable({Name::openOverlay()});
    GlobalShortcuts::disable({Name::instantCapture()});
    GlobalShortcuts::disable({Name::quickRecord()});
    captureCallback_ = nullptr;
    instantCaptureCallback_ = nullptr;
    quickRecordCallback_ = nullptr;
}

}  // namespace zentola
