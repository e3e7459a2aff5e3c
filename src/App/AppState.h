#pragma once

#include "Models/CaptureMode.h"
#include "Models/CaptureType.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"
#include "platform/display/Screen.h"

#include <QObject>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace zentola {

class PersistenceManager;

// The one observable record of the capture being prepared. The overlay's views observe and write
// it; the overlay controller and the application delegate read it to start a capture. Restores the
// last mode, rectangle and control-bar position when created and mirrors them back.
//
// Each change emits willChange() before the value is assigned and the field's own signal after;
// assigning the value a field already holds emits nothing. Main thread only.
class AppState : public QObject {
    Q_OBJECT
public:
    // The instance over PersistenceManager::shared(), made on first use.
    static AppState& shared();
    // An instance over another settings owner (tests); restores from it at once.
    explicit AppState(PersistenceManager& persistence, QObject* parent = nullptr);

    bool isOverlayVisible() const { return isOverlayVisible_; }
    void setIsOverlayVisible(bool visible);

    CaptureType captureType() const { return captureType_; }
    void setCaptureType(CaptureType type);

    CaptureMode currentMode() const { return currentMode_; }
    // Sets the mode and stores it at once as the remembered mode.
    void setMode(CaptureMode mode);

    const std::optional<SelectionRect>& selectionRect() const { return selectionRect_; }
    // Sets the selection to rect (points, the display's top-left space) drawn on screen and stores it
    // at once; does nothing when the display has no number.
    void updateSelectionRect(const QRectF& rect, const platform::ScreenRef& screen);

    const std::optional<WindowInfo>& highlightedWindow() const { return highlightedWindow_; }
    void setHighlightedWindow(const std::optional<WindowInfo>& window);

    const platform::ScreenRef& activeScreen() const { return activeScreen_; }
    void setActiveScreen(const platform::ScreenRef& screen);

    const std::optional<QPointF>& controlBarPosition() const { return controlBarPosition_; }
    void setControlBarPosition(const std::optional<QPointF>& position);

    // Stores the mode, the rectangle (none removes it) and the control-bar position, in that order.
    void saveState();

signals:
    void willChange();
    void isOverlayVisibleChanged();
    void captureTypeChanged();
    void currentModeChanged();
    void selectionRectChanged();
    void highlightedWindowChanged();
    void activeScreenChanged();
    void controlBarPositionChanged();

private:
    void loadPersistedState();
    void assignCurrentMode(CaptureMode mode);
    void assignSelectionRect(const std::optional<SelectionRect>& rect);
    void assignControlBarPosition(const std::optional<QPointF>& position);

    PersistenceManager& persistence_;
    bool isOverlayVisible_ = false;
    CaptureType captureType_ = CaptureType::photo;
    CaptureMode currentMode_ = CaptureMode::rect;
    std::optional<SelectionRect> selectionRect_;
    std::optional<WindowInfo> highlightedWindow_;
    platform::ScreenRef activeScreen_;
    std::optional<QPointF> controlBarPosition_;
};

}  // namespace zentola
