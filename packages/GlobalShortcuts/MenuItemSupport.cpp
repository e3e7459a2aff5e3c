#include "packages/GlobalShortcuts/MenuItemSupport.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/NotificationCenter.h"
#include "platform/input/KeyboardLayout.h"

#include <QAction>
#include <QPointer>

namespace GlobalShortcuts {

namespace {

const char* const bindingObjectName = "GlobalShortcuts.menuItemBinding";

// Lives on the action as a child, so the observer goes with the action.
class MenuItemBinding : public QObject {
public:
    MenuItemBinding(QAction* action, const Name& name) : QObject(action), name_(name) {
        setObjectName(bindingObjectName);
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            shortcutByNameDidChange, [this](const QVariantMap& info) {
                const QVariant value = info.value("name");
                if (!value.canConvert<Name>() || value.value<Name>().rawValue() != name_.rawValue())
                    return;
                // After the storage operation that posted has finished.
                QMetaObject::invokeMethod(
                    this,
                    [this] { MenuItemSupport::setShortcut(static_cast<QAction*>(parent()), getShortcut(name_)); },
                    Qt::QueuedConnection);
            });
        // The key's character depends on the keyboard layout.
        connect(&platform::KeyboardLayoutChanges::instance(), &platform::KeyboardLayoutChanges::changed, this,
                [this] { MenuItemSupport::setShortcut(static_cast<QAction*>(parent()), getShortcut(name_)); });
    }
    ~MenuItemBinding() override { platform::NotificationCenter::defaultCenter().removeObserver(token_); }

private:
    Name name_;
    platform::NotificationCenter::Token token_ = 0;
};

void dropBinding(QAction* action) {
    const auto children = action->children();
    for (QObject* child : children)
        if (child->objectName() == QLatin1String(bindingObjectName))
            delete child;
}

}  // namespace

void MenuItemSupport::setShortcut(QAction* action, const std::optional<Shortcut>& shortcut) {
    if (!action)
        return;
    action->setShortcut(shortcut ? shortcut->toKeySequence() : QKeySequence());
}

void MenuItemSupport::setShortcutFor(QAction* action, const std::optional<Name>& name) {
    if (!action)
        return;
    if (!name) {
        action->setShortcut(QKeySequence());
        dropBinding(action);
        return;
    }
    dropBinding(action);
    setShortcut(action, getShortcut(*name));
    new MenuItemBinding(action, *name);
}

}  // namespace GlobalShortcuts
