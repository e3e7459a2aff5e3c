#include "Features/MenuBar/MenuBarController.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"

#include "App/AppState.h"
#include "Features/Capture/VideoRecordingManager.h"
#include "Features/Settings/SettingsWindowController.h"
#include "Services/PermissionManager.h"
#include "platform/core/Log.h"
#include "platform/desktop/TrayAppearance.h"
#include "platform/desktop/UserNotice.h"
#include "platform/desktop/WindowPlacement.h"
#include "resources/Bundle.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zentola {
namespace {

constexpr double pi = std::numbers::pi;

std::optional<QImage> renderBundleImage(const QString& name) {
    const auto path = Bundle::imagePath(name);
    if (!path)
        return std::nullopt;
    QSvgRenderer renderer(*path);
    if (!renderer.isValid())
        return std::nullopt;
    // Drawn large once so the tray can scale it down sharply at any panel size.
    const QSize size = renderer.defaultSize().scaled(64, 64, Qt::KeepAspectRatio);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

}  // namespace

MenuBarController::Environment MenuBarController::Environment::system() {
    Environment env;
    env.recordingState = [] { return VideoRecordingManager::shared().state(); };
    env.recordingDuration = [] { return VideoRecordingManager::shared().recordingDuration(); };
    env.isOverlayVisible = [] { return AppState::shared().isOverlayVisible(); };
    env.hasScreenRecordingPermission = [] { return PermissionManager::shared().hasScreenRecordingPermission(); };
    env.showSettings = [] { SettingsWindowController::shared().show(); };
    env.showAbout = [] { SettingsWindowController::shared().showAbout(); };
    env.observeRecordingState = [](QObject* context, std::function<void(RecordingState)> fn) {
        QObject::connect(&VideoRecordingManager::shared(), &VideoRecordingManager::stateChanged, context,
                         [fn](RecordingState state) { fn(state); }, Qt::QueuedConnection);
    };
    env.now = [] {
        static QElapsedTimer clock = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return clock.nsecsElapsed() / 1e9;
    };
    env.image = renderBundleImage;
    env.isDarkAppearance = [](const QRect& trayIcon) {
        // Asked at every step of the pulse: the tray is looked at again only when the icon has
        // moved, or after a while.
        static QRect lastIcon;
        static std::optional<bool> light;
        static QElapsedTimer age;
        if (trayIcon != lastIcon || !age.isValid() || age.hasExpired(1500)) {
            lastIcon = trayIcon;
            age.start();
            light = platform::TrayAppearance::wantsLightGlyph(trayIcon, light);
        }
        return light;
    };
    env.isDarkApplication = [] { return QApplication::palette().color(QPalette::Window).lightness() < 128; };
    env.isSystemTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    env.trayPanel = platform::WindowPlacement::embeddingWindow;
    return env;
}

MenuBarController::MenuBarController(Callback onCaptureTriggered, Callback onCancelCapture, Callback onStopRecording,
                                     Callback onQuit, Environment environment, QObject* parent)
    : QObject(parent),
      env_(std::move(environment)),
      onCaptureTriggered_(std::move(onCaptureTriggered)),
      onCancelCapture_(std::move(onCancelCapture)),
      onStopRecording_(std::move(onStopRecording)),
      onQuit_(std::move(onQuit)) {
    setupStatusItem();
    buildMenu();
    observeState();
}

MenuBarController::~MenuBarController() {
    delete menu_;
    delete statusItem_;
}

void MenuBarController::setupStatusItem() {
    if (!env_.isSystemTrayAvailable())
        platform::logLine("[Zentola] No system tray is available, so Zentola shows no icon; its shortcuts still work");
    statusItem_ = new QSystemTrayIcon(this);
    statusItem_->setToolTip(QStringLiteral("Zentola"));
    updateIcon();
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            statusItemClicked(reason == QSystemTrayIcon::Trigger);
    });
    statusItem_->show();
    // Failures the user must know of show as the icon's message where the desktop has no
    // notification service; without a tray host their log line is all there is.
    platform::UserNotice::setFallback([icon = QPointer<QSystemTrayIcon>(statusItem_)](const QString& title,
                                                                                      const QString& body) {
        if (!icon || !icon->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable())
            return false;
        icon->showMessage(title, body, QSystemTrayIcon::Warning);
        return true;
    });
    appearanceTimer_ = new QTimer(this);
    appearanceTimer_->setInterval(2000);
    connect(appearanceTimer_, &QTimer::timeout, this, [this] {
        if (!pulseTimer_ && appearance() != shownAppearance_)
            updateIcon();
    });
    appearanceTimer_->start();
}

std::pair<bool, bool> MenuBarController::appearance() const {
    const auto dark = env_.isDarkAppearance(statusItem_ ? statusItem_->geometry() : QRect());
    return {dark.value_or(env_.isDarkApplication()), dark.has_value()};
}

void MenuBarController::showGlyph(const QImage& icon, std::pair<bool, bool> appearance) {
    shownAppearance_ = appearance;
    const auto [dark, known] = appearance;
    setIcon(known ? icon : withHalo(icon, dark));
}

void MenuBarController::statusItemClicked(bool leftClick) {
    if (leftClick && env_.recordingState() == RecordingState::recording) {
        onStopRecording_();
        return;
    }
    showMenu();
}

void MenuBarController::showMenu() {
    buildMenu();
    menu_->popup(menuPosition());
}

QPoint MenuBarController::menuPosition() const {
    const QRect icon = statusItem_ ? statusItem_->geometry() : QRect();
    const QScreen* screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen)
        return QCursor::pos();
    // Beside the panel, wherever it stands: a menu over the icon would take the next click, which
    // usually means "close the menu", as a command.
    const QRect panel = env_.trayPanel ? env_.trayPanel(icon).value_or(icon) : icon;
    return platform::WindowPlacement::menuPosition(icon, panel, screen->geometry(), menu_->sizeHint());
}

QAction* MenuBarController::addCommand(const QString& title, const QKeySequence& keys, Callback action, bool enabled) {
    QAction* item = menu_->addAction(title);
    if (!keys.isEmpty()) {
        item->setShortcut(keys);
        // Shown for reference only: the global shortcuts do the real work.
        item->setShortcutContext(Qt::WidgetShortcut);
        item->setShortcutVisibleInContextMenu(true);
    }
    item->setEnabled(enabled);
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return item;
}

void MenuBarController::buildMenu() {
    const bool overlayVisible = env_.isOverlayVisible();
    const bool recording = env_.recordingState() == RecordingState::recording;
    if (menu_)
        menu_->deleteLater();
    menu_ = new QMenu();
    menu_->installEventFilter(this);

    QAction* status = menu_->addAction(statusTitle());
    status->setEnabled(false);
    menu_->addSeparator();

    // The overlay's default combination, as the keyboard layout in use names it.
    const QKeySequence commandShift6 =
        GlobalShortcuts::applicationDefault(GlobalShortcuts::Name::openOverlay())->toKeySequence();
    if (recording)
        addCommand(QStringLiteral("Stop Recording"), commandShift6, [this] { onStopRecording_(); }, true);
    else if (overlayVisible)
        addCommand(QStringLiteral("Cancel Capture"), QKeySequence(Qt::CTRL | Qt::Key_Escape),
                   [this] { onCancelCapture_(); }, true);
    else
        addCommand(QStringLiteral("Capture Screen"), commandShift6, [this] { onCaptureTriggered_(); },
                   env_.hasScreenRecordingPermission());
    menu_->addSeparator();
    addCommand(QStringLiteral("Settings..."), QKeySequence(Qt::CTRL | Qt::Key_Comma), [this] { env_.showSettings(); },
               !recording);
    addCommand(QStringLiteral("About Zentola"), {}, [this] { env_.showAbout(); }, true);
    menu_->addSeparator();
    addCommand(QStringLiteral("Quit Zentola"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { onQuit_(); }, !recording);
}

bool MenuBarController::eventFilter(QObject* watched, QEvent* event) {
    // A key shown beside an item works while the menu is open, as in any menu. The capture
    // shortcut reaches the global shortcuts first when it is still theirs.
    if (watched != menu_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    // With Shift the event names the key's shifted character (Ctrl+Shift+^ for Ctrl+Shift+6 on
    // most layouts); the key itself, as a shortcut names it, is what the menu shows.
    const auto asShortcut = GlobalShortcuts::Shortcut::fromEvent(event);
    const QKeySequence key = asShortcut ? asShortcut->toKeySequence() : QKeySequence();
    const auto shows = [&](const QKeySequence& shown) {
        return shown.matches(pressed) == QKeySequence::ExactMatch ||
               (!key.isEmpty() && shown.matches(key) == QKeySequence::ExactMatch);
    };
    for (QAction* item : menu_->actions())
        if (item->isEnabled() && !item->shortcut().isEmpty() && shows(item->shortcut())) {
            menu_->close();
            item->trigger();
            return true;
        }
    return false;
}

QString MenuBarController::recordingTitle(double seconds) {
    const long long s = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(seconds) : 0;
    return QString::asprintf("Recording... (%lld:%02lld)", s / 60, s % 60);
}

QString MenuBarController::statusTitle() const {
    if (env_.recordingState() == RecordingState::recording)
        return recordingTitle(env_.recordingDuration());
    if (env_.isOverlayVisible())
        return QStringLiteral("Capture in Progress...");
    if (env_.hasScreenRecordingPermission())
        return QStringLiteral("Ready");
    return QStringLiteral("\u26A0 Setup Required");
}

void MenuBarController::observeState() {
    QPointer<MenuBarController> weak(this);
    auto deliver = [weak](RecordingState state) {
        if (weak)
            weak->handleRecordingStateChange(state);
    };
    env_.observeRecordingState(this, deliver);
    const RecordingState current = env_.recordingState();
    QMetaObject::invokeMethod(this, [deliver, current] { deliver(current); }, Qt::QueuedConnection);
}

void MenuBarController::handleRecordingStateChange(RecordingState state) {
    if (state == RecordingState::recording)
        startPulsingIcon();
    else
        stopPulsingIcon();
}

double MenuBarController::advancePhase(double phase, double dt) {
    phase += dt * pi;
    if (phase > 2 * pi)
        phase -= 2 * pi;
    return phase;
}

double MenuBarController::intensity(double phase) {
    return (std::sin(phase) + 1) / 2;
}

void MenuBarController::startPulsingIcon() {
    pulsePhase_ = 0;
    lastPulseTime_ = env_.now();
    updateRecordingIcon();
    if (!pulseTimer_) {
        pulseTimer_ = new QTimer(this);
        pulseTimer_->setInterval(1000 / 30);
        connect(pulseTimer_, &QTimer::timeout, this,
                [this] { QMetaObject::invokeMethod(this, &MenuBarController::animatePulse, Qt::QueuedConnection); });
    }
    pulseTimer_->start();
}

void MenuBarController::animatePulse() {
    const double now = env_.now();
    pulsePhase_ = advancePhase(pulsePhase_, now - lastPulseTime_);
    lastPulseTime_ = now;
    updateRecordingIcon();
}

void MenuBarController::stopPulsingIcon() {
    if (pulseTimer_) {
        pulseTimer_->stop();
        pulseTimer_->deleteLater();
        pulseTimer_ = nullptr;
    }
    pulsePhase_ = 0;
    updateIcon();
}

void MenuBarController::updateIcon() {
    if (env_.recordingState() == RecordingState::recording) {
        updateRecordingIcon();
        return;
    }
    // The tray has no template images: the glyph takes the colour that stands out on the panel,
    // with a ring of the opposite colour when the panel's is only guessed.
    if (auto base = env_.image(QStringLiteral("menubar-icon"))) {
        const auto seen = appearance();
        showGlyph(tintImage(*base, seen.first ? Qt::white : Qt::black), seen);
    }
}

QImage MenuBarController::withHalo(const QImage& icon, bool dark) {
    const QImage ring = tintImage(icon, dark ? Qt::black : Qt::white);
    QImage out(icon.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    // About one pixel at the tray's size.
    const int r = std::max(1, icon.width() / 16);
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
            if (dx * dx + dy * dy <= r * r)
                painter.drawImage(QPoint(dx, dy), ring);
    painter.drawImage(QPoint(0, 0), icon);
    return out;
}

QImage MenuBarController::tintImage(const QImage& image, const QColor& color) {
    QImage tinted(image.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(Qt::transparent);
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPoint(0, 0), image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(tinted.rect(), color);
    return tinted;
}

std::optional<QImage> MenuBarController::recordingIcon(const std::optional<QImage>& base,
                                                       const std::optional<QImage>& lips, double phase, bool dark) {
    if (!base || !lips)
        return std::nullopt;
    const double t = intensity(phase);
    const QColor baseColor = dark ? QColor(Qt::white) : QColor(Qt::black);
    const QColor lipsColor = dark ? QColor::fromRgbF(1, 1 - t, 1 - t) : QColor::fromRgbF(t, 0, 0);
    QImage composite(base->size(), QImage::Format_ARGB32_Premultiplied);
    composite.fill(Qt::transparent);
    QPainter painter(&composite);
    const QRect area(QPoint(0, 0), base->size());
    painter.drawImage(area, tintImage(*base, baseColor), area);
    painter.drawImage(area, tintImage(*lips, lipsColor), area);
    return composite;
}

void MenuBarController::updateRecordingIcon() {
    if (!statusItem_)
        return;
    const auto seen = appearance();
    if (auto icon = recordingIcon(env_.image(QStringLiteral("menubar-icon")), env_.image(QStringLiteral("menubar-lips")),
                                  pulsePhase_, seen.first))
        showGlyph(*icon, seen);
}

void MenuBarController::setIcon(const QImage& image) {
    currentIcon_ = image;
    if (statusItem_)
        statusItem_->setIcon(QIcon(QPixmap::fromImage(image)));
}

}  // namespace zentola
