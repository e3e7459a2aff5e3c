#pragma once

#include "platform/core/Bitmap.h"

#include <QWidget>

namespace zentola {

// A white pane over one display that lets every click through. Its alpha fades the whole window
// when the desktop composites. Otherwise nothing would blend it with the desktop (a translucent
// white shows as grey): the window is opaque and paints what lay beneath it with the white over
// it at its alpha, so the flash looks the same on both desktops.
class FlashWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double alpha READ alpha WRITE setAlpha)

public:
    FlashWindow(const QRect& geometry, bool fades);

    bool fades() const { return fades_; }
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    // What the display showed beneath the window, at its native pixels; painted under the white
    // when the window does not fade. Without it the pane is solid white.
    void setBeneath(platform::BitmapRef beneath);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool fades_;
    double alpha_ = 0.0;
    platform::BitmapRef beneath_;
};

}  // namespace zentola
