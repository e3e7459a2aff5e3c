#pragma once

#include "Features/Thumbnail/ThumbnailView.h"
#include "Models/CapturedImage.h"

#include <QEasingCurve>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QTimer;
class QVariantAnimation;
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
    // Whether the desktop blends translucent windows; asked at each show and while the card is up.
    void setCompositing(std::function<bool()> compositing) { compositing_ = std::move(compositing); }

    // Opens the capture: its saved file (then slides out), else a temporary PNG of it, written on a
    // worker thread and opened once it is whole.
    void openInPreview();
    // Shows the saved file in the file manager; nothing for an unsaved capture.
    void revealInFileManager();
    // Writes the bitmap as "Zentola-<uuid>.png" in the temporary folder; no value on failure.
    static std::optional<QString> saveTempFile(const platform::BitmapRef& bitmap);

private:
    QWidget* createWindow(bool translucent);
    // A window of the other kind when a compositing manager came or went; not during a drag out,
    // whose loop the window owns.
    void followCompositor();
    // Slides the card to `to` points right of its place, easing as given, for `ms`.
    QVariantAnimation* slideTo(double to, int ms, QEasingCurve::Type easing);
    // Where the window goes for the card at a position: whole on the card's display, so the
    // toolkit never takes it to another display and rescales it.
    QPoint windowPositionFor(const QPoint& card) const;
    // Puts the card at its place, moved by the slide and the swipe; only the part within its
    // display shows, and nothing else of the window.
    void place();
    void startDismissTimer();
    void cancelTimer();
    void pauseTimer() { cancelTimer(); }
    void resumeTimer() {
        if (up_ && !leaving_)
            startDismissTimer();
    }

    QPointer<QWidget> window_;
    QPointer<ThumbnailView> view_;
    QTimer* dismissTimer_ = nullptr;
    QPointer<QVariantAnimation> animation_;
    QTimer* compositorWatch_ = nullptr;
    QRect rest_;       // the card at its place, toolkit coordinates
    QRect bounds_;     // the part of its display the card may show in
    QRect way_;        // all the window covers on its way in
    double slide_ = 0;  // points right of its place
    QPointF swipe_;     // the view's swipe
    bool up_ = false;   // from a show until the slide-out ends
    bool leaving_ = false;
    std::optional<CapturedImage> currentImage_;
    std::function<bool(const QUrl&)> open_;
    std::function<bool(const QString&)> reveal_;
    std::function<bool()> compositing_;
};

}  // namespace zentola
