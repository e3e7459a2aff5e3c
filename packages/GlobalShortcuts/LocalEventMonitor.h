#pragma once

#include <QObject>
#include <QPointF>

#include <functional>

namespace GlobalShortcuts {

// Sees the application's events of a mask (EventMask bits) before their widget does, once per
// event, while started. The callback returns the event to let it go on, or nullptr to swallow it.
// Dropping the monitor removes it.
class LocalEventMonitor : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<QEvent*(QEvent*)>;

    LocalEventMonitor(quint64 events, Callback callback);
    ~LocalEventMonitor() override;

    LocalEventMonitor* start();
    void stop();
    bool isStarted() const { return started_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isFirstSighting(QObject* watched, QEvent* event);

    quint64 events_;
    Callback callback_;
    bool started_ = false;
    // An ignored mouse event travels on to the parents as copies with the same time and place.
    struct MouseSeen {
        int type = 0;
        quint64 timestamp = 0;
        QPointF globalPosition;
        int button = 0;
    } lastMouse_;
};

}  // namespace GlobalShortcuts
