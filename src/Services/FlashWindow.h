#pragma once

#include <QWidget>

namespace zentola {

// A white pane over one display that lets every click through. Its alpha fades the whole window
// when the desktop composites; otherwise the pane stays solid white, since an X server without a
// compositing manager would show a translucent white as grey.
class FlashWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double alpha READ alpha WRITE setAlpha)

public:
    FlashWindow(const QRect& geometry, bool fades);

    bool fades() const { return fades_; }
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool fades_;
    double alpha_ = 0.0;
};

}  // namespace zentola
