#pragma once

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <functional>

namespace ovtest {

// Lets events run until condition holds, for five seconds at most; whether it
// came to hold. QTest's QTRY_ macros report their time-out to QTest only, so
// inside a GoogleTest test they would pass however the wait ended: tests use
// EXPECT_TRUE(WaitUntil(...)) instead.
inline bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 5000)
{
    for (int waited = 0; !condition(); waited += 10) {
        if (waited >= milliseconds)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Asks condition every intervalMs, sleeping between without running events
// (for what another process, another thread or the peer does), for
// milliseconds at most; whether it came to hold.
inline bool PollUntil(const std::function<bool()>& condition, int milliseconds, int intervalMs = 20)
{
    for (QDeadlineTimer deadline(milliseconds);; QThread::msleep(intervalMs)) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
    }
}

} // namespace ovtest
