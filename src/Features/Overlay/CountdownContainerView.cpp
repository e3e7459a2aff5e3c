#include "Features/Overlay/CountdownContainerView.h"

#include "Features/Overlay/OverlayStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>

namespace zentola {

namespace {

constexpr double largestScale = 1.2;
constexpr int shadowWidth = 30;
constexpr int shadowOffset = 10;

// The number's outline, centred on the origin.
QPainterPath numberPath(int count) {
    QPainterPath text;
    text.addText(0, 0, OverlayStyle::font(180, QFont::Bold), QString::number(count));
    text.translate(-text.boundingRect().center());
    return text;
}

}  // namespace

void CountdownContainerView::setSnapshot(platform::BitmapRef snapshot) {
    snapshot_ = std::move(snapshot);
    update();
}

CountdownContainerView::CountdownContainerView(int countdownValue, std::function<void()> onComplete,
                                               std::function<void()> onTick, std::chrono::milliseconds step,
                                               QWidget* parent)
    : QWidget(parent),
      countdownValue_(std::max(countdownValue, 1)),
      onComplete_(std::move(onComplete)),
      onTick_(std::move(onTick)),
      step_(step),
      currentCount_(countdownValue_),
      scaleAnimation_(new QVariantAnimation(this)) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    scaleAnimation_->setDuration(150);
    scaleAnimation_->setEasingCurve(QEasingCurve::OutQuad);
    connect(scaleAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        scale_ = v.toDouble();
        update();
    });
}

void CountdownContainerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_)
        startCountdown();
}

void CountdownContainerView::animateNumber() {
    scale_ = largestScale;
    scaleAnimation_->stop();
    scaleAnimation_->setStartValue(largestScale);
    scaleAnimation_->setEndValue(1.0);
    scaleAnimation_->start();
    update();
}

void CountdownContainerView::startCountdown() {
    started_ = true;
    const int n = countdownValue_;
    animateNumber();
    for (int i = 1; i < n; ++i) {
        QTimer::singleShot(step_ * i, this, [this, n, i] {
            currentCount_ = n - i;
            animateNumber();
            emit currentCountChanged(currentCount_);
            if (onTick_)
                onTick_();
        });
    }
    QTimer::singleShot(step_ * n, this, [this] {
        // Moved out first: the completion may delete this view.
        auto done = std::move(onComplete_);
        onComplete_ = nullptr;
        if (done)
            done();
    });
}

void CountdownContainerView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (snapshot_)
        p.drawImage(QRectF(rect()), snapshot_->asQImage());
    p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.4f));
    if (currentCount_ < 1)
        return;
    p.setRenderHint(QPainter::Antialiasing);

    const QPainterPath text = numberPath(currentCount_);

    p.translate(QRectF(rect()).center());
    p.scale(scale_, scale_);
    // A soft shadow below the number, built up from widening strokes.
    p.save();
    p.translate(0, shadowOffset);
    p.setBrush(Qt::NoBrush);
    for (int w = shadowWidth; w >= 2; w -= 4) {
        p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.4f / 8), w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(text);
    }
    p.fillPath(text, QColor::fromRgbF(0, 0, 0, 0.4f / 2));
    p.restore();
    p.fillPath(text, Qt::white);
}

}  // namespace zentola
