#include "common/WorkQueue.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;

TEST(WorkQueueTest, RunsTasksInOrderIncludingThoseQueuedWhileStopping) {
    WorkQueue queue(QStringLiteral("com.orvane.test.queue"));
    std::mutex lock;
    std::vector<int> ran;
    const auto record = [&](int n) {
        std::lock_guard guard(lock);
        ran.push_back(n);
    };
    queue.post([&] {
        std::this_thread::sleep_for(50ms); // still running when stop() is called
        record(1);
        queue.post([&] { record(3); });
    });
    queue.post([&] { record(2); });
    queue.stop();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(WorkQueueTest, AStoppedQueueDropsWhatIsPostedAndDoesNotWaitForIt) {
    WorkQueue queue(QStringLiteral("com.orvane.test.queue"));
    queue.stop();
    std::atomic<bool> ran = false;
    queue.post([&] { ran = true; });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.runAndWait([&] { ran = true; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    queue.stop(); // stopping twice is harmless
    EXPECT_FALSE(ran);
}

TEST(WorkQueueTest, RunAndWaitReportsWhetherTheTaskFinishedInTime) {
    WorkQueue queue(QStringLiteral("com.orvane.test.queue"));
    std::atomic<int> value = 0;
    EXPECT_TRUE(queue.runAndWait([&] { value = 7; }, 5s));
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(queue.runAndWait([] { std::this_thread::sleep_for(300ms); }, 20ms));
}

} // namespace
} // namespace orvane
