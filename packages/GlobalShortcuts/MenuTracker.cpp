#include "packages/GlobalShortcuts/MenuTracker.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>

#include <algorithm>

namespace GlobalShortcuts {

MenuTracker::MenuTracker(std::function<void(bool)> onChange) : QObject(qApp), onChange_(std::move(onChange)) {}

bool MenuTracker::install(std::function<void(bool open)> onChange) {
    if (!qApp)
        return false;
    qApp->installEventFilter(new MenuTracker(std::move(onChange)));
    return true;
}

bool MenuTracker::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
        return false;
    auto* menu = qobject_cast<QMenu*>(watched);
    if (!menu)
        return false;
    std::erase_if(open_, [menu](const QPointer<QObject>& m) { return m.isNull() || m == menu; });
    if (event->type() == QEvent::Show) {
        open_.push_back(menu);
        // A menu deleted while open sends no hide event; it is forgotten by address, since a widget
        // tells of its end before its guarded pointers are cleared.
        connect(menu, &QObject::destroyed, this, &MenuTracker::forget, Qt::UniqueConnection);
    }
    update();
    return false;
}

void MenuTracker::forget(QObject* menu) {
    std::erase_if(open_, [menu](const QPointer<QObject>& m) { return m.data() == menu; });
    update();
}

void MenuTracker::update() {
    std::erase_if(open_, [](const QPointer<QObject>& m) { return m.isNull(); });
    onChange_(!open_.empty());
}

}  // namespace GlobalShortcuts
