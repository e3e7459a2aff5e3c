#pragma once

#include "Models/CaptureType.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <optional>

namespace zentola {

class AppState;

// Photo or video, bound to the shared capture type: two symbols side by side on a soft pill.
class CaptureTypeToggle : public QWidget {
    Q_OBJECT

public:
    explicit CaptureTypeToggle(AppState& appState, QWidget* parent = nullptr);

    // Where each choice sits, in this widget.
    QRectF photoRect() const { return {4, 4, 36, 36}; }
    QRectF videoRect() const { return {42, 4, 36, 36}; }
    bool isHoveringPhoto() const { return hovered_ == CaptureType::photo; }
    bool isHoveringVideo() const { return hovered_ == CaptureType::video; }

    // The symbol's colour of a choice and the fill under it (none: clear), as the state stands.
    QColor symbolColor(CaptureType type) const;
    std::optional<QColor> selectionFill(CaptureType type) const;

    QSize sizeHint() const override { return {82, 44}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::optional<CaptureType> choiceAt(const QPointF& point) const;
    void paintChoice(QPainter& p, CaptureType type, const QRectF& r);

    AppState& appState_;
    std::optional<CaptureType> hovered_;
    std::optional<CaptureType> pressed_;
};

}  // namespace zentola
