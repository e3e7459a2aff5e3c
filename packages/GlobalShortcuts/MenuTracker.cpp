#include "packages/GlobalShortcuts/MenuTracker.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

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
    // Every popup holds the keyboard while it shows, a combo box's list as much as a menu; a tool tip
    // holds nothing.
    auto* popup = qobject_cast<QWidget*>(watched);
    if (!popup || popup->windowType() != Qt::Popup)
        return false;
    std::erase_if(open_, [popup](const QPointer<QObject>& m) { return m.isNull() || m == popup; });
    if (event->type() == QEvent::Show) {
        open_.push_back(popup);
        // A popup deleted while open sends no hide event; it is forgotten by address, since a widget
        // tells of its end before its guarded pointers are cleared.
        connect(popup, &QObject::destroyed, this, &MenuTracker::forget, Qt::UniqueConnection);
    }
    update();
    return false;
}

void MenuTracker::forget(QObject* popup) {
    std::erase_if(open_, [popup](const QPointer<QObject>& m) { return m.data() == popup; });
    update();
}

void MenuTracker::update() {
    std::erase_if(open_, [](const QPointer<QObject>& m) { return m.isNull(); });
    onChange_(!open_.empty());
}

}  // namespace GlobalShortcuts
