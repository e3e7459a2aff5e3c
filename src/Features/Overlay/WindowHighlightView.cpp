#include "Features/Overlay/WindowHighlightView.h"

#include "App/AppState.h"
#include "Extensions/Coordinates.h"
#include "Features/Overlay/MouseTrackingView.h"
#include "Features/Overlay/OverlayStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace zentola {

WindowHighlightView::WindowHighlightView(AppState& appState, platform::ScreenRef screen,
                                         std::function<void()> onWindowSelected,
                                         std::function<std::vector<WindowInfo>()> windowSource, QWidget* parent)
    : QWidget(parent),
      appState_(appState),
      screen_(std::move(screen)),
      onWindowSelected_(std::move(onWindowSelected)),
      windowSource_(std::move(windowSource)),
      tracking_(new MouseTrackingView(this)) {
    setAttribute(Qt::WA_NoSystemBackground);
    tracking_->screen = screen_;
    tracking_->onHover = [this](const std::optional<WindowInfo>& window) {
        hoveredWindow_ = window;
        appState_.setHighlightedWindow(window);
        update();
    };
    tracking_->onSelect = [this] {
        if (onWindowSelected_)
            onWindowSelected_();
    };
    refreshWindows();
}

void WindowHighlightView::refreshWindows() {
    windows_ = windowSource_ ? windowSource_() : std::vector<WindowInfo>{};
    tracking_->windows = windows_;
}

QRectF WindowHighlightView::localFrame(const WindowInfo& window) const {
    if (!screen_)
        return window.frame;
    return Coordinates::localFromTopLeft(window.frame, *screen_);
}

void WindowHighlightView::resizeEvent(QResizeEvent* event) {
    tracking_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void WindowHighlightView::paintEvent(QPaintEvent*) {
    if (!hoveredWindow_)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(OverlayStyle::accent(), 3, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(localFrame(*hoveredWindow_), 10, 10);
}

}  // namespace zentola
