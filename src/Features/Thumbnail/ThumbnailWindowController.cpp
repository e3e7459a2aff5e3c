#include "Features/Thumbnail/ThumbnailWindowController.h"

#include "Features/Thumbnail/ThumbnailView.h"
#include "platform/capture/OwnWindows.h"
#include "platform/core/MainThread.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/WindowPlacement.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QDrag>
#include <QPainterPath>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <QVariantAnimation>
#include <QWidget>

#include <algorithm>

namespace zentola {

ThumbnailWindowController& ThumbnailWindowController::shared() {
    static auto* controller = new ThumbnailWindowController;
    return *controller;
}

ThumbnailWindowController::ThumbnailWindowController()
    : open_([](const QUrl& url) { return platform::Workspace::open(url); }),
      reveal_([](const QString& path) { return platform::Workspace::revealInFileManager(path); }),
      compositing_(platform::Compositor::isRunning) {}

ThumbnailWindowController::~ThumbnailWindowController() {
    delete window_;
}

QSizeF ThumbnailWindowController::cardSize(double pixelWidth, double pixelHeight) {
    if (!(pixelWidth > 0) || !(pixelHeight > 0))
        return QSizeF(216, 216);
    const double aspect = pixelWidth / pixelHeight;
    if (aspect > 1.5)
        return QSizeF(316, 300 / aspect + 16);
    return QSizeF(200 * aspect + 16, 216);
}

QRectF ThumbnailWindowController::cardFrame(const QSizeF& size, const QRectF& visibleFrame) {
    const double inset = 20;
    return QRectF(visibleFrame.x() + visibleFrame.width() - size.width() - inset, visibleFrame.y() + inset,
                  size.width(), size.height());
}

QWidget* ThumbnailWindowController::createWindow(bool translucent) {
    auto* window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowDoesNotAcceptFocus);
    // Without a compositing manager, translucent pixels show dark on X11: the card is then opaque
    // with its rounded corners cut out by a shape mask.
    window->setAttribute(Qt::WA_TranslucentBackground, translucent);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setWindowTitle(QStringLiteral("Zentola"));
    if (!dismissTimer_) {
        dismissTimer_ = new QTimer(this);
        dismissTimer_->setSingleShot(true);
        connect(dismissTimer_, &QTimer::timeout, this, &ThumbnailWindowController::hide);
        compositorWatch_ = new QTimer(this);
        compositorWatch_->setInterval(250);
        connect(compositorWatch_, &QTimer::timeout, this, &ThumbnailWindowController::followCompositor);
    }
    return window;
}

void ThumbnailWindowController::followCompositor() {
    if (!window_ || !view_)
        return;
    const bool translucent = compositing_();
    if (translucent == window_->testAttribute(Qt::WA_TranslucentBackground) || window_->findChild<QDrag*>())
        return;
    // The kind of window is settled when it is made.
    QWidget* old = window_;
    window_ = createWindow(translucent);
    view_->setParent(window_);
    view_->show();
    window_->winId();
    // The new window comes on before the old goes, which grabs leave out meanwhile.
    if (const auto kept = platform::OwnWindows::beneath(quint32(old->winId())); kept && !kept->hidden) {
        platform::OwnWindows::keepBeneath(window_->windowHandle(), kept->moving ? way_ : old->geometry());
        platform::OwnWindows::setMoving(window_->windowHandle(), kept->moving);
    }
    place();
    old->hide();
    platform::OwnWindows::forget(old->windowHandle());
    old->deleteLater();
}

QPoint ThumbnailWindowController::windowPositionFor(const QPoint& card) const {
    const int right = std::max(bounds_.left(), bounds_.x() + bounds_.width() - rest_.width());
    const int bottom = std::max(bounds_.top(), bounds_.y() + bounds_.height() - rest_.height());
    return QPoint(std::clamp(card.x(), bounds_.left(), right), std::clamp(card.y(), bounds_.top(), bottom));
}

void ThumbnailWindowController::place() {
    if (!window_ || !view_ || !up_)
        return;
    const QPoint card = rest_.topLeft() + QPoint(qRound(slide_), 0) + swipe_.toPoint();
    const QPoint at = windowPositionFor(card);
    const QRect inWindow(card - at, rest_.size());
    const QRect shown = inWindow.intersected(QRect(QPoint(), rest_.size()));
    // Nothing of the card within its display: the window is not up either (an empty mask would
    // show it whole).
    if (shown.isEmpty()) {
        if (window_->isVisible()) {
            window_->hide();
            platform::OwnWindows::forget(window_->windowHandle());
        }
        return;
    }
    if (window_->geometry() != QRect(at, rest_.size()))
        window_->setGeometry(QRect(at, rest_.size()));
    view_->setGeometry(inWindow);
    QRegion mask;
    if (!window_->testAttribute(Qt::WA_TranslucentBackground)) {
        QPainterPath outline;
        outline.addRoundedRect(QRectF(inWindow), ThumbnailView::cornerRadius, ThumbnailView::cornerRadius);
        mask = QRegion(outline.toFillPolygon().toPolygon()).intersected(shown);
    } else if (shown != QRect(QPoint(), rest_.size())) {
        // Clear where the card is not, and clicks there go to the windows beneath.
        mask = QRegion(shown);
    }
    if (window_->mask() != mask) {
        if (mask.isEmpty())
            window_->clearMask();
        else
            window_->setMask(mask);
    }
    if (window_->isVisible()) {
        // Painted right after the new shape, which cuts away what is painted beyond it: with the
        // painting left for later, the screen would show the card cut for a while.
        window_->repaint();
    } else {
        // Coming on, or back from beyond the edge of its display.
        const auto kept = platform::OwnWindows::beneath(quint32(window_->winId()));
        if (!kept || kept->hidden)
            platform::OwnWindows::keepBeneath(window_->windowHandle(), QRect(at, rest_.size()));
        // The window manager forgets it each time the card leaves.
        platform::OwnWindows::showOnAllWorkspaces(window_->windowHandle());
        window_->show();
        window_->raise();
    }
}

QVariantAnimation* ThumbnailWindowController::slideTo(double to, int ms, QEasingCurve::Type easing) {
    if (animation_)
        animation_->stop();
    auto* slide = new QVariantAnimation(this);
    slide->setDuration(ms);
    slide->setStartValue(slide_);
    slide->setEndValue(to);
    slide->setEasingCurve(easing);
    connect(slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        slide_ = value.toDouble();
        place();
    });
    animation_ = slide;
    return slide;
}

void ThumbnailWindowController::show(const CapturedImage& image) {
    currentImage_ = image;

    platform::ScreenRef screen = image.sourceScreen;
    // The main display is the first of the list; without any display there is nowhere to show.
    if (!screen)
        screen = platform::Screen::main();
    if (!screen)
        return;

    const auto& bitmap = image.image.bitmap();
    const QSizeF size = bitmap ? cardSize(bitmap->width(), bitmap->height()) : cardSize(0, 0);
    rest_ = platform::WindowPlacement::geometryForFrame(cardFrame(size, screen->visibleFrame()));
    bounds_ = platform::WindowPlacement::geometryForFrame(screen->visibleFrame());

    // A slide-out still running must not take the new card away when it ends.
    if (animation_)
        animation_->stop();
    up_ = leaving_ = false;
    if (!window_)
        window_ = createWindow(compositing_());

    QPointer<ThumbnailWindowController> self(this);
    ThumbnailView::Actions actions{
        [self] { if (self) self->hide(); },
        [self] { if (self) self->openInPreview(); },
        [self] { if (self) self->revealInFileManager(); },
        [self] { if (self) self->pauseTimer(); },
        [self] { if (self) self->resumeTimer(); },
    };
    auto* view = new ThumbnailView(image, std::move(actions), window_);
    if (view_) {
        view_->hide();
        view_->deleteLater();
    }
    view_ = view;
    connect(view, &ThumbnailView::dragOffsetChanged, this, [this, view](const QPointF& offset) {
        if (view != view_)
            return;
        swipe_ = offset;
        place();
    });
    view->show();
    swipe_ = QPointF();
    followCompositor();

    // The slide in starts just past the visible frame's right edge.
    const double away = rest_.width() + thumbnailPadding;
    // A screenshot taken while the card is up shows the desktop beneath it, all along its way in
    // and out.
    way_ = rest_.united(QRect(windowPositionFor(rest_.topLeft() + QPoint(int(away), 0)), rest_.size()));
    window_->winId();
    platform::OwnWindows::keepBeneath(window_->windowHandle(), way_);
    slide_ = away;
    up_ = true;
    place();
    compositorWatch_->start();

    QVariantAnimation* slideIn = slideTo(0, 200, QEasingCurve::OutCubic);
    // At rest, a screenshot leaves out only where the card is: what lay along its way may have
    // changed since.
    connect(slideIn, &QVariantAnimation::finished, this, [this] {
        if (window_)
            platform::OwnWindows::setMoving(window_->windowHandle(), false);
    });
    slideIn->start(QAbstractAnimation::DeleteWhenStopped);

    startDismissTimer();
}

void ThumbnailWindowController::hide() {
    cancelTimer();
    if (!window_)
        return;
    leaving_ = true;
    QVariantAnimation* slideOut = slideTo(slide_ + rest_.width() + thumbnailPadding, 150, QEasingCurve::InCubic);
    platform::OwnWindows::setMoving(window_->windowHandle(), true);
    connect(slideOut, &QVariantAnimation::finished, this, [this] {
        up_ = false;
        compositorWatch_->stop();
        if (!window_)
            return;
        window_->hide();
        platform::OwnWindows::forget(window_->windowHandle());
    });
    slideOut->start(QAbstractAnimation::DeleteWhenStopped);
}

void ThumbnailWindowController::startDismissTimer() {
    if (!dismissTimer_)
        return;
    dismissTimer_->start(int(displayDuration * 1000));
}

void ThumbnailWindowController::cancelTimer() {
    if (dismissTimer_)
        dismissTimer_->stop();
}

void ThumbnailWindowController::openInPreview() {
    if (!currentImage_)
        return;
    if (currentImage_->fileURL) {
        open_(*currentImage_->fileURL);
        hide();
        return;
    }
    // Encoding a large capture takes a while: written off the main thread, opened back on it.
    QThreadPool::globalInstance()->start([bitmap = currentImage_->image.bitmap(), open = open_] {
        const auto path = saveTempFile(bitmap);
        if (path && QCoreApplication::instance())
            platform::postToMain([open, url = QUrl::fromLocalFile(*path)] { open(url); });
    });
}

void ThumbnailWindowController::revealInFileManager() {
    if (currentImage_ && currentImage_->fileURL)
        reveal_(currentImage_->fileURL->toLocalFile());
}

std::optional<QString> ThumbnailWindowController::saveTempFile(const platform::BitmapRef& bitmap) {
    const QString path = QDir::temp().filePath(
        "Zentola-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".png");
    if (!ThumbnailView::writePNG(bitmap, path))
        return std::nullopt;
    return path;
}

}  // namespace zentola
