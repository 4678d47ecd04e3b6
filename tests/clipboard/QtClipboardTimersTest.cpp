#include "clipboard/QtClipboardTimers.h"

#include <QDateTime>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

TEST(QtClipboardTimersTest, FiresOnceOrRepeatedlyUntilTheHandleGoes) {
    QtClipboardTimers timers;
    int once = 0;
    int repeated = 0;
    auto oneShot = timers.start(1ms, false, [&] { ++once; });
    std::unique_ptr<ClipboardTimers::Timer> repeating;
    // The handle is dropped from inside its own callback, as the manager does.
    repeating = timers.start(1ms, true, [&] {
        if (++repeated == 3) {
            repeating.reset();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return repeated == 3 && once == 1; }, 5000));
    QTest::qWait(20);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeated, 3);

    auto cancelled = timers.start(1ms, false, [] { FAIL() << "a stopped timer fired"; });
    cancelled.reset();
    QTest::qWait(20);
    EXPECT_NEAR(timers.nowMs(), QDateTime::currentMSecsSinceEpoch(), 1000);
}

} // namespace
