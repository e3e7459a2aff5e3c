#include "Features/Thumbnail/ThumbnailWindowController.h"

#include "Features/Thumbnail/ThumbnailView.h"
#include "platform/capture/OwnWindows.h"
#include "platform/core/MainThread.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/WindowPlacement.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWidget>

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

QWidget* ThumbnailWindowController::createWindow() {
    auto* window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowDoesNotAcceptFocus);
    // Without a compositing manager, translucent pixels show dark on X11: the card is then opaque
    // with its rounded corners cut out by a shape mask.
    if (compositing_())
        window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setWindowTitle(QStringLiteral("Zentola"));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    dismissTimer_ = new QTimer(this);
    dismissTimer_->setSingleShot(true);
    connect(dismissTimer_, &QTimer::timeout, this, &ThumbnailWindowController::hide);
    return window;
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
    const QRect target = platform::WindowPlacement::geometryForFrame(cardFrame(size, screen->visibleFrame()));

    if (!window_)
        window_ = createWindow();
    // A slide-out still running must not take the new card away when it ends.
    if (animation_)
        animation_->stop();

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
        window_->layout()->removeWidget(view_);
        view_->hide();
        view_->deleteLater();
    }
    view_ = view;
    window_->layout()->addWidget(view);

    // A screenshot taken while the card is up shows the desktop beneath it, all along its way in
    // and out.
    const QPoint offscreen = target.topLeft() + QPoint(target.width() + int(thumbnailPadding), 0);
    window_->winId();
    platform::OwnWindows::keepBeneath(window_->windowHandle(), target.united(QRect(offscreen, target.size())));
    window_->setGeometry(QRect(offscreen, target.size()));
    if (!window_->testAttribute(Qt::WA_TranslucentBackground)) {
        QPainterPath card;
        card.addRoundedRect(QRectF(QPointF(), QSizeF(target.size())), ThumbnailView::cornerRadius,
                            ThumbnailView::cornerRadius);
        window_->setMask(QRegion(card.toFillPolygon().toPolygon()));
    }
    // The window manager forgets it each time the card leaves.
    if (!window_->isVisible())
        platform::OwnWindows::showOnAllWorkspaces(window_->windowHandle());
    window_->show();
    window_->raise();

    auto* slideIn = new QPropertyAnimation(window_, "pos", this);
    slideIn->setDuration(200);
    slideIn->setStartValue(offscreen);
    slideIn->setEndValue(target.topLeft());
    slideIn->setEasingCurve(QEasingCurve::OutCubic);
    // At rest, a screenshot leaves out only where the card is: what lay along its way may have
    // changed since.
    QPointer<QWidget> card = window_;
    connect(slideIn, &QPropertyAnimation::finished, this, [card] {
        if (card)
            platform::OwnWindows::setMoving(card->windowHandle(), false);
    });
    animation_ = slideIn;
    slideIn->start(QAbstractAnimation::DeleteWhenStopped);

    startDismissTimer();
}

void ThumbnailWindowController::hide() {
    cancelTimer();
    if (!window_)
        return;
    if (animation_)
        animation_->stop();
    const QPoint from = window_->pos();
    auto* slideOut = new QPropertyAnimation(window_, "pos", this);
    slideOut->setDuration(150);
    slideOut->setStartValue(from);
    slideOut->setEndValue(from + QPoint(window_->width() + int(thumbnailPadding), 0));
    slideOut->setEasingCurve(QEasingCurve::InCubic);
    platform::OwnWindows::setMoving(window_->windowHandle(), true);
    QPointer<QWidget> window = window_;
    connect(slideOut, &QPropertyAnimation::finished, this, [window] {
        if (!window)
            return;
        window->hide();
        platform::OwnWindows::forget(window->windowHandle());
    });
    animation_ = slideOut;
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
