#include "Features/Thumbnail/ThumbnailView.h"

#include "Services/ClipboardManager.h"
#include "platform/imageio/ImageCodec.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDrag>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QSaveFile>
#include <QThreadPool>
#include <QToolButton>
#include <QVariantAnimation>

#include <cmath>

namespace zentola {
namespace {

QString text(const char* key) {
    return QCoreApplication::translate("ThumbnailView", key);
}

QIcon closeIcon() {
    QPixmap pixmap(40, 40);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 77));
    p.drawEllipse(QRectF(1, 2, 38, 38));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(0, 0, 38, 38));
    p.setPen(QPen(QColor(60, 60, 60), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13, 13), QPointF(25, 25));
    p.drawLine(QPointF(25, 13), QPointF(13, 25));
    return QIcon(pixmap);
}

// The file always holds PNG, so its name always ends in ".png": an image extension typed with the
// name is replaced ("shot.jpg" becomes "shot.png"), any other part after a dot is kept
// ("notes.v2" becomes "notes.v2.png").
QString pngPath(const QString& path) {
    if (path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        return path;
    const QString name = QFileInfo(path).fileName();
    const QMimeDatabase db;
    const QString suffix = db.suffixForFileName(name);
    if (!suffix.isEmpty() && name.size() > suffix.size() + 1 &&
        db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name().startsWith(QStringLiteral("image/")))
        return path.left(path.size() - suffix.size()) + QStringLiteral("png");
    return path + QStringLiteral(".png");
}

// Settles the ".png" name before the dialog checks it or asks about replacing a file.
class PngSaveDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !QFileInfo(files.front()).isDir()) {
            const QString png = pngPath(files.front());
            if (png != files.front()) {
                // The dialog leaves the name field as typed while the field has the focus, as it
                // has when Return confirms it.
                QWidget* focused = focusWidget();
                if (focused)
                    focused->clearFocus();
                selectFile(png);
                if (focused)
                    focused->setFocus();
            }
        }
        QFileDialog::accept();
    }
};

}  // namespace

bool ThumbnailView::writePNG(const platform::BitmapRef& bitmap, const QString& path) {
    if (!bitmap || path.isEmpty())
        return false;
    QByteArray png;
    try {
        png = platform::ImageCodec::pngData(*bitmap);
    } catch (const std::exception&) {
        return false;
    }
    QSaveFile file(path);
    if (png.isEmpty() || !file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(png) != png.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

ThumbnailView::ThumbnailView(CapturedImage image, Actions actions, QWidget* parent)
    : QWidget(parent), image_(std::move(image)), actions_(std::move(actions)) {
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    // As sharp as the display the capture came from.
    const double scale = image_.sourceScreen ? image_.sourceScreen->backingScaleFactor() : qApp->devicePixelRatio();
    const platform::Image thumb = image_.thumbnailImage(scale);
    if (thumb.bitmap())
        thumbnail_ = thumb.bitmap()->asQImage().copy();

    closeButton_ = new QToolButton(this);
    closeButton_->setAutoRaise(true);
    closeButton_->setIcon(closeIcon());
    closeButton_->setIconSize(QSize(20, 20));
    closeButton_->setFixedSize(28, 28);
    closeButton_->setStyleSheet("QToolButton { border: none; background: transparent; }");
    closeButton_->setCursor(Qt::ArrowCursor);
    closeButton_->setToolTip(text("Dismiss"));
    auto* fade = new QGraphicsOpacityEffect(closeButton_);
    fade->setOpacity(0);
    closeButton_->setGraphicsEffect(fade);
    closeButton_->hide();
    connect(closeButton_, &QToolButton::clicked, this, [this] {
        if (actions_.onDismiss)
            actions_.onDismiss();
    });
}

ThumbnailView::~ThumbnailView() {
    // A menu still open goes with the card, which is past answering as it closes.
    if (menu_)
        disconnect(menu_, nullptr, this, nullptr);
}

void ThumbnailView::resizeEvent(QResizeEvent*) {
    closeButton_->move(width() - padding - closeButton_->width(), padding);
}

void ThumbnailView::paintEvent(QPaintEvent*) {
    // Drawn once: the card paints at every step of its way in and out.
    const double ratio = devicePixelRatioF();
    if (face_.isNull() || face_.size() != size() * ratio || face_.devicePixelRatio() != ratio) {
        face_ = QPixmap(size() * ratio);
        face_.setDevicePixelRatio(ratio);
        face_.fill(Qt::transparent);
        paintFace(face_);
    }
    QPainter(this).drawPixmap(0, 0, face_);
}

void ThumbnailView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        face_ = QPixmap();
    QWidget::changeEvent(event);
}

void ThumbnailView::paintFace(QPaintDevice& device) const {
    QPainter p(&device);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    // A translucent card in the window colour.
    QColor card = palette().color(QPalette::Window);
    card.setAlpha(215);
    p.setPen(Qt::NoPen);
    p.setBrush(card);
    p.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);

    if (thumbnail_.isNull())
        return;
    const QRectF area = QRectF(rect()).adjusted(padding, padding, -padding, -padding);
    QSizeF fitted = QSizeF(thumbnail_.size()).scaled(area.size(), Qt::KeepAspectRatio);
    const QRectF target(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);

    // A soft shadow under the picture.
    for (int i = 1; i <= 4; ++i) {
        p.setBrush(QColor(0, 0, 0, 18));
        p.drawRoundedRect(target.translated(0, 4).adjusted(-i, -i + 1, i, i), 8 + i, 8 + i);
    }
    QPainterPath clip;
    clip.addRoundedRect(target, 8, 8);
    p.setClipPath(clip);
    p.drawImage(target, thumbnail_);
}

void ThumbnailView::setHovering(bool hovering) {
    if (hovering == isHovering_)
        return;
    auto* fade = static_cast<QGraphicsOpacityEffect*>(closeButton_->graphicsEffect());
    auto* animation = new QPropertyAnimation(fade, "opacity", closeButton_);
    animation->setDuration(150);
    animation->setStartValue(fade->opacity());
    animation->setEndValue(hovering ? 1.0 : 0.0);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    if (hovering) {
        closeButton_->show();
        closeButton_->raise();
    } else {
        connect(animation, &QPropertyAnimation::finished, closeButton_, [this] {
            if (!isHovering_)
                closeButton_->hide();
        });
    }
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    setHeld(hovering, menuOpen_);
}

void ThumbnailView::setHeld(bool hovering, bool menuOpen) {
    const bool wasHeld = isHovering_ || menuOpen_;
    isHovering_ = hovering;
    menuOpen_ = menuOpen;
    const bool held = isHovering_ || menuOpen_;
    if (held == wasHeld)
        return;
    if (held) {
        if (actions_.onHoverStart)
            actions_.onHoverStart();
    } else if (actions_.onHoverEnd) {
        actions_.onHoverEnd();
    }
}

void ThumbnailView::enterEvent(QEnterEvent*) {
    setHovering(true);
}

void ThumbnailView::leaveEvent(QEvent*) {
    setHovering(false);
}

void ThumbnailView::setDragOffset(const QPointF& offset) {
    if (offset == dragOffset_)
        return;
    dragOffset_ = offset;
    emit dragOffsetChanged(offset);
}

void ThumbnailView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = true;
    isSwiping_ = false;
    pressPos_ = event->position().toPoint();
    pressGlobalPos_ = event->globalPosition();
}

void ThumbnailView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_)
        return;
    // On the screen: the card moves with the swipe, and the pointer with it.
    const QPoint translation = (event->globalPosition() - pressGlobalPos_).toPoint();
    if (!isDragging_ && std::hypot(translation.x(), translation.y()) < swipeMinimum)
        return;
    isDragging_ = true;
    setDragOffset(translation);
    if (translation.x() > swipeDismissDistance) {
        if (actions_.onDismiss)
            actions_.onDismiss();
        return;
    }
    if (rect().contains(pressPos_ + translation) || isSwiping_)
        return;
    // Out of the card heading right it is a swipe on its way, wherever it started; out of it any
    // other way it carries the capture out to another application.
    isSwiping_ = translation.x() > std::abs(translation.y());
    if (!isSwiping_)
        startDragOut();
}

void ThumbnailView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    isSwiping_ = false;
    if (isDragging_) {
        isDragging_ = false;
        springBack();
        return;
    }
    if (actions_.onOpen)
        actions_.onOpen();
}

void ThumbnailView::springBack() {
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(300);
    animation->setStartValue(dragOffset_);
    animation->setEndValue(QPointF(0, 0));
    animation->setEasingCurve(QEasingCurve::OutBack);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setDragOffset(value.toPointF()); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ThumbnailView::startDragOut() {
    pressed_ = false;
    isDragging_ = false;
    setDragOffset(QPointF());
    // Owned by the card's window, which outlives this view: a new capture may replace the view
    // while the drag still runs its loop.
    auto* drag = new QDrag(window());
    drag->setMimeData(makeDragData());
    if (!thumbnail_.isNull())
        drag->setPixmap(QPixmap::fromImage(thumbnail_.scaled(120, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    drag->exec(Qt::CopyAction);
}

QMimeData* ThumbnailView::makeDragData() const {
    auto* data = new QMimeData;
    if (image_.fileURL) {
        // The saved file itself; nothing when it can no longer be read.
        QFile file(image_.fileURL->toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return data;
        data->setUrls({*image_.fileURL});
        const QString type = QMimeDatabase().mimeTypeForFile(file.fileName()).name();
        if (type.startsWith("image/"))
            data->setData(type, file.readAll());
        return data;
    }
    if (const auto& bitmap = image_.image.bitmap())
        data->setImageData(bitmap->asQImage().copy());
    return data;
}

QMenu* ThumbnailView::makeContextMenu() {
    auto* menu = new QMenu(this);
    auto add = [menu](const char* key, std::function<void()> action) {
        QObject::connect(menu->addAction(text(key)), &QAction::triggered, menu, [action] {
            if (action)
                action();
        });
    };
    add("Open", actions_.onOpen);
    add("Open With...", actions_.onReveal);
    menu->addSeparator();
    add("Save As...", [this] { saveAs(); });
    add("Copy", [this] { copy(); });
    menu->addSeparator();
    add("Show in File Manager", actions_.onReveal);
    menu->addSeparator();
    add("Dismiss", actions_.onDismiss);
    return menu;
}

void ThumbnailView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The card stays while its menu is open: the pointer leaves the card for the menu. Its time
    // counts again once the menu closes with the pointer off the card.
    connect(menu, &QMenu::aboutToHide, this, [this] { setHeld(isHovering_, false); });
    setHeld(isHovering_, true);
    menu_ = menu;
    menu->popup(event->globalPos());
}

QFileDialog* ThumbnailView::saveAs() {
    auto* dialog = new PngSaveDialog(nullptr, text("Save As..."));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(text("PNG image (*.png)"));
    dialog->setDefaultSuffix("png");
    dialog->selectFile("Screenshot.png");
    // The card may be gone when the user answers; the dialog keeps its own reference to the pixels.
    // Encoding a large capture takes a while, so it is written off the main thread.
    const platform::BitmapRef bitmap = image_.image.bitmap();
    connect(dialog, &QFileDialog::fileSelected, dialog, [bitmap](const QString& path) {
        QThreadPool::globalInstance()->start([bitmap, path] { writePNG(bitmap, path); });
    });
    dialog->open();
    return dialog;
}

void ThumbnailView::copy() const {
    std::optional<QString> path;
    if (image_.fileURL)
        path = image_.fileURL->toLocalFile();
    ClipboardManager::shared().copyImageWithFile(image_.image.bitmap(), path);
}

}  // namespace zentola
