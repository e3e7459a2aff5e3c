#pragma once

#include "platform/display/Screen.h"

#include <QWidget>

namespace zentola {

class OverlayView;

// A borderless window over one whole display, above everything and outside the window manager's
// control, that can still take the keyboard. Transparent where a compositing manager blends it;
// without one it is opaque, since it paints the desktop's picture itself.
class KeyablePanel : public QWidget {
    Q_OBJECT

public:
    explicit KeyablePanel(const platform::ScreenRef& screen, bool translucent = true);

    // Hosts the view, filling the panel.
    void setContentView(OverlayView* view);
    OverlayView* contentView() const { return view_; }
    // Lets go of the view, which stays a child until the caller deletes it.
    OverlayView* takeContentView();
    const platform::ScreenRef& screen() const { return screen_; }
    bool isTranslucent() const { return testAttribute(Qt::WA_TranslucentBackground); }
    // Covers its display where it is now.
    void place();
    // Moves the panel off every display but keeps it on the screen's list of windows, so that
    // showing it again costs the X server no new window picture, and lets go of the input.
    // Paints nothing while parked.
    void park();
    // Puts the panel over its display: a parked one paints first, out of sight, so that a
    // compositing manager never shows what it held the last time.
    void present();
    // Shown, and over its display rather than parked.
    bool isOnScreen() const { return isVisible() && !parked_; }
    // Where the panel covers its display, as last placed or parked for.
    QRect home() const { return home_; }

    // Brings the panel forward and gives it the keyboard.
    void makeKey();
    // Gives the keyboard back.
    void resignKey();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    platform::ScreenRef screen_;
    OverlayView* view_ = nullptr;
    bool parked_ = false;
    QRect home_;
};

}  // namespace zentola
