#pragma once

#include "Features/Thumbnail/ThumbnailView.h"
#include "Models/CapturedImage.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QPropertyAnimation;
class QTimer;
class QWidget;

namespace zentola {

// The floating card that shows the last screenshot in the bottom-right corner of its display.
class ThumbnailWindowController : public QObject {
    Q_OBJECT

public:
    static ThumbnailWindowController& shared();
    ThumbnailWindowController();
    ~ThumbnailWindowController() override;

    void show(const CapturedImage& image);
    void hide();

    // Card size in points for a capture of the given pixel size (image area plus 8 points around).
    static QSizeF cardSize(double pixelWidth, double pixelHeight);
    // The card's frame in global bottom-left points: bottom-right of the visible frame, 20 in.
    static QRectF cardFrame(const QSizeF& size, const QRectF& visibleFrame);

    double displayDuration = 5.0;
    double thumbnailPadding = 20.0;

    QWidget* window() const { return window_; }
    ThumbnailView* view() const { return view_; }
    QTimer* dismissTimer() const { return dismissTimer_; }
    const std::optional<CapturedImage>& currentImage() const { return currentImage_; }

    // How files are opened and revealed; tests replace them.
    void setOpener(std::function<bool(const QUrl&)> open) { open_ = std::move(open); }
    void setRevealer(std::function<bool(const QString&)> reveal) { reveal_ = std::move(reveal); }
    // Whether the desktop blends translucent windows; asked when the card's window is made.
    void setCompositing(std::function<bool()> compositing) { compositing_ = std::move(compositing); }

    // Opens the capture: its saved file (then slides out), else a temporary PNG of it, written on a
    // worker thread and opened once it is whole.
    void openInPreview();
    // Shows the saved file in the file manager; nothing for an unsaved capture.
    void revealInFileManager();
    // Writes the bitmap as "Zentola-<uuid>.png" in the temporary folder; no value on failure.
    static std::optional<QString> saveTempFile(const platform::BitmapRef& bitmap);

private:
    QWidget* createWindow();
    void startDismissTimer();
    void cancelTimer();
    void pauseTimer() { cancelTimer(); }
    void resumeTimer() { startDismissTimer(); }

    QPointer<QWidget> window_;
    QPointer<ThumbnailView> view_;
    QTimer* dismissTimer_ = nullptr;
    QPointer<QPropertyAnimation> animation_;
    std::optional<CapturedImage> currentImage_;
    std::function<bool(const QUrl&)> open_;
    std::function<bool(const QString&)> reveal_;
    std::function<bool()> compositing_;
};

}  // namespace zentola
