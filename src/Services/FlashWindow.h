#pragma once

#include <QWidget>

namespace zentola {

// A white pane over one display that lets every click through; its whiteness is animated.
class FlashWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double alpha READ alpha WRITE setAlpha)

public:
    explicit FlashWindow(const QRect& geometry);

    double alpha() const { return alpha_; }
    void setAlpha(double alpha);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double alpha_ = 0.0;
};

}  // namespace zentola
