#pragma once

#include <QObject>

#include <functional>

namespace GlobalShortcuts {

// Watches the application's own events of the mask before anything else sees them, while started.
// The callback returns the event to let it go on, or nullptr to consume it. Used while a menu holds
// the keyboard and hot keys cannot arrive.
class RunLoopLocalEventMonitor : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<QEvent*(QEvent*)>;

    RunLoopLocalEventMonitor(quint64 events, Callback callback);
    ~RunLoopLocalEventMonitor() override;

    RunLoopLocalEventMonitor* start();
    void stop();
    bool isStarted() const { return started_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    quint64 events_;
    Callback callback_;
    bool started_ = false;
};

}  // namespace GlobalShortcuts
