#include "Features/Settings/SettingsWindowController.h"

#include "platform/core/NotificationCenter.h"
#include "platform/desktop/Workspace.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

namespace zentola {

SettingsWindowController& SettingsWindowController::shared() {
    static SettingsWindowController* controller = new SettingsWindowController;
    return *controller;
}

QWidget* SettingsWindowController::settingsWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == QStringLiteral("Settings") && w->isVisible())
            return w;
    return nullptr;
}

void SettingsWindowController::show() {
    if (QWidget* w = settingsWindow()) {
        platform::Workspace::activate(w);
        return;
    }
    window_ = new SettingsView(deps_.value_or(SettingsView::Dependencies::system()));
    window_->setAttribute(Qt::WA_DeleteOnClose);
    // An ordinary window: in the taskbar and the window switcher while it is open, so it can be
    // found again once covered.
    // As large as its tallest tab needs, in the middle of the screen the user is on.
    QSize size = window_->sizeHint().expandedTo(QSize(700, 520));
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(room.size() - QSize(40, 80)).expandedTo(window_->minimumSize());
        window_->move(room.center() - QRect(QPoint(), size).center());
    }
    window_->resize(size);
    auto* again = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), window_);
    QObject::connect(again, &QShortcut::activated, window_, [] { SettingsWindowController::shared().show(); });
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SettingsWindowController::showAbout() {
    show();
    QTimer::singleShot(100, [] { platform::NotificationCenter::defaultCenter().post(SettingsView::selectAboutTab); });
}

}  // namespace zentola
