#pragma once

#include "Models/CapturedImage.h"

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>

class QFileDialog;
class QMenu;
class QMimeData;
class QToolButton;

namespace zentola {

// The card's content: the capture, a close button while hovered, click to open, swipe right to
// dismiss, drag out, and a context menu.
class ThumbnailView : public QWidget {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> onDismiss;
        std::function<void()> onOpen;
        std::function<void()> onReveal;
        std::function<void()> onHoverStart;
        std::function<void()> onHoverEnd;
    };

    ThumbnailView(CapturedImage image, Actions actions, QWidget* parent = nullptr);
    ~ThumbnailView() override;

    const CapturedImage& image() const { return image_; }
    bool isHovering() const { return isHovering_; }
    QPointF dragOffset() const { return dragOffset_; }
    QToolButton* closeButton() const { return closeButton_; }

    // The menu the context-menu gesture shows; the caller owns it.
    QMenu* makeContextMenu();
    // What a drag out of the card carries: the saved file, else the image.
    QMimeData* makeDragData() const;
    // Opens the save dialog without waiting; the PNG is written on a worker thread when the user
    // confirms, under a name that ends in ".png".
    QFileDialog* saveAs();
    // Writes a bitmap as a PNG file, whole or not at all; false when encoding or writing fails.
    static bool writePNG(const platform::BitmapRef& bitmap, const QString& path);
    void copy() const;

    static constexpr int padding = 8;
    static constexpr int cornerRadius = 12;
    static constexpr int swipeMinimum = 10;
    static constexpr int swipeDismissDistance = 100;

signals:
    // The card moves with the swipe; the window that hosts it moves it.
    void dragOffsetChanged(const QPointF& offset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void paintFace(QPaintDevice& device) const;
    void setHovering(bool hovering);
    // The pointer on the card or its menu open: the card stays.
    void setHeld(bool hovering, bool menuOpen);
    void setDragOffset(const QPointF& offset);
    void springBack();
    void startDragOut();

    CapturedImage image_;
    Actions actions_;
    QImage thumbnail_;
    QPixmap face_;
    QToolButton* closeButton_ = nullptr;
    bool isHovering_ = false;
    bool menuOpen_ = false;
    QPointer<QMenu> menu_;
    QPointF dragOffset_;
    bool isDragging_ = false;
    bool isSwiping_ = false;  // left the card heading right: no drag-out
    bool pressed_ = false;
    QPoint pressPos_;
    QPointF pressGlobalPos_;
};

}  // namespace zentola
