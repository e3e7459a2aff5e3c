#include "App/AppState.h"

#include "Extensions/ScreenExt.h"
#include "Services/PersistenceManager.h"

namespace zentola {

namespace {

// Exact comparisons: a highlighted window with the same number but a new frame or title is news
// to the views, which WindowInfo's identity comparison would hide.
bool sameWindow(const std::optional<WindowInfo>& a, const std::optional<WindowInfo>& b) {
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    return a->id == b->id && a->title == b->title && a->ownerName == b->ownerName && a->ownerPID == b->ownerPID &&
           a->frame == b->frame && a->layer == b->layer && a->isOnScreen == b->isOnScreen;
}

bool samePoint(const std::optional<QPointF>& a, const std::optional<QPointF>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->x() == b->x() && a->y() == b->y());
}

}  // namespace

AppState& AppState::shared() {
    // Never destroyed: observers may still hold it while the application object goes away.
    static AppState* instance = new AppState(PersistenceManager::shared());
    return *instance;
}

AppState::AppState(PersistenceManager& persistence, QObject* parent) : QObject(parent), persistence_(persistence) {
    loadPersistedState();
}

void AppState::setIsOverlayVisible(bool visible) {
    if (isOverlayVisible_ == visible)
        return;
    emit willChange();
    isOverlayVisible_ = visible;
    emit isOverlayVisibleChanged();
}

void AppState::setCaptureType(CaptureType type) {
    if (captureType_ == type)
        return;
    emit willChange();
    captureType_ = type;
    emit captureTypeChanged();
}

void AppState::assignCurrentMode(CaptureMode mode) {
    if (currentMode_ == mode)
        return;
    emit willChange();
    currentMode_ = mode;
    emit currentModeChanged();
}

void AppState::setMode(CaptureMode mode) {
    assignCurrentMode(mode);
    persistence_.setLastCaptureMode(mode);
}

void AppState::assignSelectionRect(const std::optional<SelectionRect>& rect) {
    if (selectionRect_ == rect)
        return;
    emit willChange();
    selectionRect_ = rect;
    emit selectionRectChanged();
}

void AppState::updateSelectionRect(const QRectF& rect, const platform::ScreenRef& screen) {
    const auto id = ScreenExt::displayID(screen);
    if (!id)
        return;
    assignSelectionRect(SelectionRect{rect.topLeft(), rect.size(), *id});
    persistence_.setSavedRect(selectionRect_);
}

void AppState::setHighlightedWindow(const std::optional<WindowInfo>& window) {
    if (sameWindow(highlightedWindow_, window))
        return;
    emit willChange();
    highlightedWindow_ = window;
    emit highlightedWindowChanged();
}

void AppState::setActiveScreen(const platform::ScreenRef& screen) {
    if (activeScreen_ == screen)
        return;
    emit willChange();
    activeScreen_ = screen;
    emit activeScreenChanged();
}

void AppState::assignControlBarPosition(const std::optional<QPointF>& position) {
    if (samePoint(controlBarPosition_, position))
        return;
    emit willChange();
    controlBarPosition_ = position;
    emit controlBarPositionChanged();
}

void AppState::setControlBarPosition(const std::optional<QPointF>& position) {
    assignControlBarPosition(position);
}

void AppState::saveState() {
    persistence_.setLastCaptureMode(currentMode_);
    persistence_.setSavedRect(selectionRect_);
    persistence_.setControlBarPosition(controlBarPosition_);
}

void AppState::loadPersistedState() {
    if (auto mode = persistence_.lastCaptureMode())
        assignCurrentMode(*mode);
    assignSelectionRect(persistence_.savedRect());
    assignControlBarPosition(persistence_.controlBarPosition());
}

}  // namespace zentola
