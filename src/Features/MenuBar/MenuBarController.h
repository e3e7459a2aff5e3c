#pragma once

#include "Models/RecordingState.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace zentola {

// The tray icon and its menu, rebuilt from the current state at every opening. A left click while
// recording stops the recording instead; while recording the icon pulses. Main thread only.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void()>;

    // What the menu reads and opens; system() is the running application's.
    struct Environment {
        std::function<RecordingState()> recordingState;
        std::function<double()> recordingDuration;
        std::function<bool()> isOverlayVisible;
        std::function<bool()> hasScreenRecordingPermission;
        std::function<void()> showSettings;
        std::function<void()> showAbout;
        // Calls the function with each new recording state, on a later event-loop turn.
        std::function<void(QObject* context, std::function<void(RecordingState)>)> observeRecordingState;
        // Seconds of a monotonic clock.
        std::function<double()> now;
        // A named image of the application, or none.
        std::function<std::optional<QImage>(const QString& name)> image;
        // Whether the tray around the icon at that place (global; invalid before the tray has
        // taken it) is dark, so the glyph is drawn light; none when the tray neither tells its
        // colours nor shows them.
        std::function<std::optional<bool>(const QRect& trayIcon)> isDarkAppearance;
        // Whether the application's own colours are dark: the guess for a tray of unknown colour.
        std::function<bool()> isDarkApplication;
        // Whether a tray host runs that can show the icon.
        std::function<bool()> isSystemTrayAvailable;
        // The panel that holds the tray icon at that place (global), when it can be found.
        std::function<std::optional<QRect>(const QRect& trayIcon)> trayPanel;

        static Environment system();
    };

    MenuBarController(Callback onCaptureTriggered, Callback onCancelCapture, Callback onStopRecording, Callback onQuit,
                      Environment environment = Environment::system(), QObject* parent = nullptr);
    ~MenuBarController() override;

    // Left click (trigger) or right click (context) on the tray icon.
    void statusItemClicked(bool leftClick);
    void showMenu();
    void buildMenu();
    QString statusTitle() const;

    // "Recording... (m:ss)"; minutes are not folded into hours.
    static QString recordingTitle(double seconds);
    // The phase after one step of dt seconds: π per second, 2π taken off at most once.
    static double advancePhase(double phase, double dt);
    // The tint intensity 0...1 for a phase.
    static double intensity(double phase);
    // The glyph recoloured where it has coverage, keeping its alpha.
    static QImage tintImage(const QImage& image, const QColor& color);
    // The icon ringed with the opposite of the base colour, so it reads on a dark and on a light
    // panel alike: for a tray whose colour is a guess.
    static QImage withHalo(const QImage& icon, bool dark);
    // The recording icon: tinted base then tinted lips, at the base's size; none without both.
    static std::optional<QImage> recordingIcon(const std::optional<QImage>& base, const std::optional<QImage>& lips,
                                               double phase, bool dark);

    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* menu() const { return menu_; }
    QTimer* pulseTimer() const { return pulseTimer_; }
    double pulsePhase() const { return pulsePhase_; }
    // The image the tray currently shows.
    const QImage& currentIcon() const { return currentIcon_; }

    void startPulsingIcon();
    void stopPulsingIcon();
    void animatePulse();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupStatusItem();
    void observeState();
    void handleRecordingStateChange(RecordingState state);
    void updateRecordingIcon();
    void updateIcon();
    void setIcon(const QImage& image);
    // The panel's darkness, and whether it is known rather than guessed.
    std::pair<bool, bool> appearance() const;
    void showGlyph(const QImage& icon, std::pair<bool, bool> appearance);
    // Beside the tray's panel; at the pointer when the icon's place is unknown.
    QPoint menuPosition() const;
    QAction* addCommand(const QString& title, const QKeySequence& keys, Callback action, bool enabled);

    Environment env_;
    QSystemTrayIcon* statusItem_ = nullptr;
    QMenu* menu_ = nullptr;
    double pulsePhase_ = 0;
    double lastPulseTime_ = 0;
    Callback onCaptureTriggered_;
    Callback onCancelCapture_;
    Callback onStopRecording_;
    Callback onQuit_;
    QTimer* pulseTimer_ = nullptr;
    // Looks at the tray now and then: it takes the icon a moment after start, and panels change.
    QTimer* appearanceTimer_ = nullptr;
    std::pair<bool, bool> shownAppearance_{false, false};
    QImage currentIcon_;
};

}  // namespace zentola
