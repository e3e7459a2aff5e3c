#include "App/HotkeyManager.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/desktop/UserNotice.h"
#include "platform/input/HotKeyCenter.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>

namespace zentola {
namespace {

// A shortcut the desktop refused is dead until the keys are free: the user is told where they look,
// once for each refusal as the package reports it, whichever manager is current.
void tellOfRefusals() {
    static const auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        GlobalShortcuts::registrationDidChange, [](const QVariantMap& info) {
            if (info.value("isActive").toBool())
                return;
            using GlobalShortcuts::Name;
            QStringList titles;
            for (const QVariant& name : info.value("names").toList())
                titles << "“" + GlobalShortcuts::applicationShortcutTitle(name.value<Name>()) + "”";
            const QString which = titles.join(" and ");
            const QString keys = info.value("shortcut").toString();
            if (info.value("status").toInt() == platform::HotKeyCenter::eventHotKeyExistsErr)
                platform::UserNotice::show(
                    keys + " is taken by another program",
                    which + " does not work while another program holds " + keys +
                        ". Zentola takes the keys as soon as they are free; to use other keys, record them in "
                        "Settings > Shortcuts.");
            else
                platform::UserNotice::show(QStringLiteral("A shortcut cannot be used"),
                                           "The stored shortcut of " + which +
                                               " is damaged or not on this keyboard. Record it again in "
                                               "Settings > Shortcuts.");
        });
    Q_UNUSED(observer);
}

}  // namespace

HotkeyManager::HotkeyManager(QObject* parent) : QObject(parent) { tellOfRefusals(); }

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
