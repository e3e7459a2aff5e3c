#include "Features/Overlay/OverlayView.h"

#include "App/AppState.h"
#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/OverlayStyle.h"
#include "Features/Overlay/SelectionRectView.h"
#include "Features/Overlay/WindowHighlightView.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QPainter>

namespace zentola {
namespace {

// Gone from the screen at once; deleted once the event that led here has been handled.
void retire(QWidget* widget) {
    if (!widget)
        return;
    widget->hide();
    widget->deleteLater();
}

}  // namespace

OverlayView::OverlayView(AppState& appState, platform::ScreenRef screen, std::function<void()> onCapture,
                         std::function<void()> onCancel, std::function<std::vector<WindowInfo>()> windowSource,
                         QWidget* parent)
    : QWidget(parent),
      appState_(appState),
      screen_(std::move(screen)),
      onCapture_(std::move(onCapture)),
      onCancel_(std::move(onCancel)),
      windowSource_(std::move(windowSource)) {
    setAttribute(Qt::WA_NoSystemBackground);
    connect(&appState_, &AppState::currentModeChanged, this, [this] {
        rebuildEditor();
        update();
    });
    connect(&appState_, &AppState::activeScreenChanged, this, [this] {
        rebuildControlBar();
        update();
    });
    rebuildEditor();
    rebuildControlBar();
}

SelectionRectView* OverlayView::selectionView() const { return selectionView_; }
WindowHighlightView* OverlayView::windowHighlightView() const { return windowView_; }
ControlBarView* OverlayView::controlBar() const { return controlBar_; }

platform::ScreenRef OverlayView::controlBarScreen(const AppState& appState) {
    if (appState.activeScreen())
        return appState.activeScreen();
    return platform::Screen::main();
}

double OverlayView::veilOpacity() const {
    return appState_.activeScreen() && appState_.activeScreen() == screen_ ? 0.0 : 0.1;
}

void OverlayView::setSnapshot(platform::BitmapRef snapshot) {
    snapshot_ = std::move(snapshot);
    update();
}

void OverlayView::rebuildEditor() {
    const CaptureMode mode = appState_.currentMode();
    if (mode != CaptureMode::rect && selectionView_) {
        retire(selectionView_);
        selectionView_ = nullptr;
    }
    if (mode != CaptureMode::window && windowView_) {
        retire(windowView_);
        windowView_ = nullptr;
    }
    if (mode == CaptureMode::rect && !selectionView_) {
        selectionView_ = new SelectionRectView(appState_, screen_, this);
        selectionView_->setGeometry(rect());
        selectionView_->show();
    }
    if (mode == CaptureMode::window && !windowView_) {
        windowView_ = new WindowHighlightView(appState_, screen_, onCapture_, windowSource_, this);
        windowView_->setGeometry(rect());
        windowView_->show();
    }
    if (controlBar_)
        controlBar_->raise();
}

void OverlayView::rebuildControlBar() {
    const auto barScreen = controlBarScreen(appState_);
    const bool wanted = barScreen && barScreen == screen_;
    if (wanted == bool(controlBar_))
        return;
    if (!wanted) {
        retire(controlBar_);
        controlBar_ = nullptr;
        return;
    }
    controlBar_ = new ControlBarView(
        appState_, [this](CaptureMode mode) { appState_.setMode(mode); }, onCapture_, onCancel_, this);
    layoutChildren();
    controlBar_->show();
    controlBar_->raise();
}

void OverlayView::layoutChildren() {
    if (selectionView_)
        selectionView_->setGeometry(rect());
    if (windowView_)
        windowView_->setGeometry(rect());
    if (controlBar_) {
        const QSize bar = controlBar_->size();
        controlBar_->setHomePosition(
            QPoint((width() - bar.width()) / 2, height() - int(controlBarBottomPadding) - bar.height()));
    }
}

void OverlayView::resizeEvent(QResizeEvent* event) {
    layoutChildren();
    QWidget::resizeEvent(event);
}

void OverlayView::mousePressEvent(QMouseEvent* event) {
    // Only the screen-mode veil takes clicks, over the whole display whatever its opacity.
    tapPressed_ = appState_.currentMode() == CaptureMode::screen && event->button() == Qt::LeftButton;
    tapStart_ = event->position();
    if (tapPressed_)
        event->accept();
    else
        event->ignore();
}

void OverlayView::mouseMoveEvent(QMouseEvent* event) {
    // A press that travels is a drag, not a tap.
    if (tapPressed_ && (event->position() - tapStart_).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance())
        tapPressed_ = false;
    event->ignore();
}

void OverlayView::mouseReleaseEvent(QMouseEvent* event) {
    const bool tap = tapPressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    tapPressed_ = false;
    if (tap && appState_.currentMode() == CaptureMode::screen && onCapture_)
        onCapture_();
}

void OverlayView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (snapshot_)
        p.drawImage(QRectF(rect()), snapshot_->asQImage());
    if (appState_.currentMode() != CaptureMode::screen)
        return;
    p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(veilOpacity())));
    // A 4-point stroke centred on the view's edge: half of it shows.
    p.setPen(QPen(OverlayStyle::accent(), 4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()));
}

}  // namespace zentola
