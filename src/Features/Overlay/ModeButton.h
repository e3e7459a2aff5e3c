#pragma once

#include "Models/CaptureMode.h"

#include <QAbstractButton>

namespace zentola {

// One capture mode in the control bar: its symbol over its name, tinted while selected.
class ModeButton : public QAbstractButton {
    Q_OBJECT

public:
    ModeButton(CaptureMode mode, QWidget* parent = nullptr);

    CaptureMode mode() const { return mode_; }
    bool isSelected() const { return isSelected_; }
    void setSelected(bool selected);
    bool isHovering() const { return isHovering_; }

    QSize sizeHint() const override { return {60, 50}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    CaptureMode mode_;
    bool isSelected_ = false;
    bool isHovering_ = false;
};

}  // namespace zentola
