#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

// Runs the event loop until the condition holds, for at most timeoutMs; answers whether it held.
// (The toolkit's own waiting checks report to its test runner, which these tests do not use.)
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for a while, for checks that something has NOT happened.
inline void spinFor(int ms) { waitUntil([] { return false; }, ms); }
