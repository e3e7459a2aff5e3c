#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until the condition holds, for at most timeoutMs; answers whether it held.
// (The toolkit's own waiting checks report to its test runner, which these tests do not use.)
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(5);
    }
    return true;
}
