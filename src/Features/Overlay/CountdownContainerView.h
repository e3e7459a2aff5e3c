#pragma once

#include "platform/core/Bitmap.h"

#include <QWidget>

#include <chrono>
#include <functional>

class QVariantAnimation;

namespace zentola {

// The countdown's veil: a dimmed display with a large number that counts down by one each step.
// Starts counting when first shown and calls onComplete once, one step after the last number.
class CountdownContainerView : public QWidget {
    Q_OBJECT

public:
    CountdownContainerView(int countdownValue, std::function<void()> onComplete, std::function<void()> onTick,
                           std::chrono::milliseconds step = std::chrono::seconds(1), QWidget* parent = nullptr);

    int countdownValue() const { return countdownValue_; }
    int currentCount() const { return currentCount_; }
    double scale() const { return scale_; }
    bool hasStarted() const { return started_; }

    // The display as it looked before the veil came, painted opaque beneath it where nothing
    // blends the window with the desktop; null paints nothing.
    void setSnapshot(platform::BitmapRef snapshot);
    const platform::BitmapRef& snapshot() const { return snapshot_; }

signals:
    void currentCountChanged(int count);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void startCountdown();
    void animateNumber();

    int countdownValue_;
    std::function<void()> onComplete_;
    std::function<void()> onTick_;
    std::chrono::milliseconds step_;
    int currentCount_;
    double scale_ = 1.0;
    bool started_ = false;
    QVariantAnimation* scaleAnimation_;
    platform::BitmapRef snapshot_;
};

}  // namespace zentola
