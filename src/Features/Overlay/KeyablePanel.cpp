#include "Features/Overlay/KeyablePanel.h"

#include "Features/Overlay/OverlayView.h"
#include "platform/desktop/WindowPlacement.h"
#include "platform/desktop/Workspace.h"

#include <QFocusEvent>
#include <QScreen>
#include <QWindow>

#include <cmath>

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
    parked_ = false;
    home_ = platform::WindowPlacement::geometryForScreen(*screen_);
    setGeometry(home_);
}

void KeyablePanel::park() {
    if (!screen_)
        return;
    if (isVisible() && !parked_)
        platform::Workspace::resignInput(this);
    parked_ = true;
    // Painting out of sight would only load the X server.
    setUpdatesEnabled(false);
    if (QScreen* qs = screen_->qscreen())
        setScreen(qs);
    home_ = platform::WindowPlacement::geometryForScreen(*screen_);
    // Left of the first display by its own width and a margin, in the display's pixels: the
    // toolkit scales about the display's top-left corner, which stays in pixels.
    const QRect native = screen_->nativeGeometry();
    const double scale = home_.width() > 0 && native.width() > 0 ? double(native.width()) / home_.width() : 1.0;
    const int left = home_.x() - int(std::ceil((native.x() + native.width() + 64) / scale));
    setGeometry(QRect(QPoint(left, home_.y()), home_.size()));
}

void KeyablePanel::present() {
    // A parked panel the toolkit no longer counts as exposed would not paint: it is shown afresh.
    const bool reusable = parked_ && isVisible() && windowHandle() && windowHandle()->isExposed();
    if (parked_ && isVisible() && !reusable)
        hide();
    setUpdatesEnabled(true);
    if (reusable) {
        // Moving a window does not expose it: the new picture has to be there before it comes in.
        repaint();
        place();
    } else {
        place();
        show();
    }
    raise();
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
