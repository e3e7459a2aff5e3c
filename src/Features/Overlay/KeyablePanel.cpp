#include "Features/Overlay/KeyablePanel.h"

#include "Features/Overlay/OverlayView.h"
#include "platform/desktop/WindowPlacement.h"

#include <QFocusEvent>
#include <QScreen>
#include <QWindow>

namespace zentola {

KeyablePanel::KeyablePanel(const platform::ScreenRef& screen, bool translucent)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      screen_(screen) {
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Zentola Overlay"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    place();
}

void KeyablePanel::place() {
    if (!screen_)
        return;
    if (QScreen* qs = screen_->qscreen())
        setScreen(qs);
    setGeometry(platform::WindowPlacement::geometryForScreen(*screen_));
}

OverlayView* KeyablePanel::takeContentView() {
    OverlayView* view = view_;
    view_ = nullptr;
    return view;
}

void KeyablePanel::setContentView(OverlayView* view) {
    view_ = view;
    view_->setParent(this);
    view_->setGeometry(rect());
    view_->show();
}

void KeyablePanel::resizeEvent(QResizeEvent* event) {
    if (view_)
        view_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

// Nothing here shows the focus; the default repaints the whole display when the panel takes it.
void KeyablePanel::focusInEvent(QFocusEvent* event) { event->accept(); }
void KeyablePanel::focusOutEvent(QFocusEvent* event) { event->accept(); }

void KeyablePanel::makeKey() {
    raise();
    activateWindow();
    if (QWindow* w = windowHandle())
        w->requestActivate();
    setFocus(Qt::ActiveWindowFocusReason);
    // Nothing else hands focus to a window the window manager does not see.
    grabKeyboard();
}

void KeyablePanel::resignKey() {
    if (QWidget::keyboardGrabber() == this)
        releaseKeyboard();
}

}  // namespace zentola
