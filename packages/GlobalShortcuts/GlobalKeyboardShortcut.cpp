#include "packages/GlobalShortcuts/GlobalKeyboardShortcut.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/input/KeyboardLayout.h"

#include <QAction>

namespace GlobalShortcuts {

GlobalKeyboardShortcut::GlobalKeyboardShortcut(QAction* action, const Name& name)
    : QObject(action), action_(action), name_(name) {
    auto& center = platform::NotificationCenter::defaultCenter();
    changeObserver_ = center.addObserver(shortcutByNameDidChange, [this](const QVariantMap& info) {
        const QVariant value = info.value("name");
        if (value.canConvert<Name>() && value.value<Name>().rawValue() == name_.rawValue())
            refresh();
    });
    recorderObserver_ = center.addObserver(recorderActiveStatusDidChange, [this](const QVariantMap& info) {
        const QVariant value = info.value("isActive");
        isRecorderActive_ = value.typeId() == QMetaType::Bool && value.toBool();
        refresh();
    });
    // The key's character depends on the keyboard layout.
    connect(&platform::KeyboardLayoutChanges::instance(), &platform::KeyboardLayoutChanges::changed, this,
            [this] { refresh(); });
    refresh();
}

GlobalKeyboardShortcut::~GlobalKeyboardShortcut() {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.removeObserver(changeObserver_);
    center.removeObserver(recorderObserver_);
}

void GlobalKeyboardShortcut::refresh() {
    auto shortcut = isRecorderActive_ ? std::nullopt : getShortcut(name_);
    action_->setShortcut(shortcut ? shortcut->toKeySequence() : QKeySequence());
}

GlobalKeyboardShortcut* globalKeyboardShortcut(QAction* action, const Name& name) {
    return new GlobalKeyboardShortcut(action, name);
}

}  // namespace GlobalShortcuts
