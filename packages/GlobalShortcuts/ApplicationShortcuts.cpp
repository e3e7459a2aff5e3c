#include "packages/GlobalShortcuts/ApplicationShortcuts.h"

#include "platform/input/KeyboardLayout.h"

#include <QLabel>

namespace GlobalShortcuts {

std::optional<Shortcut> applicationDefault(const Name& name) {
    const ModifierFlags ctrlShift(ModifierFlags::command | ModifierFlags::shift);
    if (name == Name::openOverlay())
        return Shortcut(Key::six, ctrlShift);
    if (name == Name::instantCapture())
        return Shortcut(Key::seven, ctrlShift);
    if (name == Name::quickRecord())
        return Shortcut(Key::eight, ctrlShift);
    return std::nullopt;
}

QString applicationDefaultText(const Name& name) {
    auto shortcut = applicationDefault(name);
    return shortcut ? shortcut->presentableDescription() : QString();
}

QString applicationShortcutTitle(const Name& name) {
    if (name == Name::openOverlay())
        return QStringLiteral("Open capture overlay");
    if (name == Name::instantCapture())
        return QStringLiteral("Instant capture");
    if (name == Name::quickRecord())
        return QStringLiteral("Quick start recording");
    return name.rawValue();
}

void followKeyboardLayout(QLabel* label, std::function<QString()> text) {
    label->setText(text());
    QObject::connect(&platform::KeyboardLayoutChanges::instance(), &platform::KeyboardLayoutChanges::changed, label,
                     [label, text = std::move(text)] { label->setText(text()); });
}

}  // namespace GlobalShortcuts
