#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

class QVariantAnimation;

namespace zentola {

// The capture (record) and cancel buttons of the control bar: a symbol over a label in one colour.
class ActionButton : public QAbstractButton {
    Q_OBJECT

public:
    ActionButton(const QString& iconName, const QString& label, const QColor& color, QWidget* parent = nullptr);

    void setLook(const QString& iconName, const QString& label, const QColor& color);
    const QString& iconName() const { return iconName_; }
    const QString& label() const { return label_; }
    const QColor& color() const { return color_; }
    bool isHovering() const { return isHovering_; }

    QSize sizeHint() const override { return {60, 50}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHovering(bool hovering);

    QString iconName_;
    QString label_;
    QColor color_;
    bool isHovering_ = false;
    double hoverLevel_ = 0;  // eases towards the hover state
    QVariantAnimation* hoverAnimation_;
};

}  // namespace zentola
