#pragma once

#include <QDeadlineTimer>
#include <QTest>
#include <chrono>

namespace lwtest {

// Runs the event loop until `condition` holds or `timeout` has passed;
// tells whether it held. For conditions QTRY_* cannot phrase (a helper
// returning false, a loop that must go on reading).
template <class Condition>
bool eventually(Condition&& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace lwtest
