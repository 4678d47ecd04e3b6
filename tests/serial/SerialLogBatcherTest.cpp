#include "serial/SerialLogBatcher.h"

#include "serial/SerialLogStore.h"

#include <gtest/gtest.h>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;

// A clock the test advances by hand: tasks run when their time has come.
class ManualClock {
public:
    SerialLogBatcher::Scheduler scheduler() {
        return [this](std::chrono::milliseconds delay, SerialLogBatcher::Task task) {
            pending_.push_back({now_ + delay, std::move(task)});
        };
    }
    void advance(std::chrono::milliseconds by) {
        now_ += by;
        for (bool ran = true; ran;) {
            ran = false;
            for (std::size_t i = 0; i < pending_.size(); ++i) {
                if (pending_[i].due <= now_) {
                    auto task = std::move(pending_[i].task);
                    pending_.erase(pending_.begin() + std::ptrdiff_t(i));
                    task();
                    ran = true;
                    break;
                }
            }
        }
    }
    std::size_t pendingCount() const { return pending_.size(); }

private:
    struct Pending {
        std::chrono::milliseconds due;
        SerialLogBatcher::Task task;
    };
    std::chrono::milliseconds now_{0};
    std::vector<Pending> pending_;
};

class SerialLogBatcherTest : public ::testing::Test {
protected:
    SerialLogStore store;
    ManualClock clock;
    quint64 rxBytes = 0;
    int appends = 0;
    SerialLogBatcher batcher{store, clock.scheduler(), 500ms, 2000ms, [this] {
                                 return rxBytes;
                             }};

    void SetUp() override {
        QObject::connect(&store, &SerialLogStore::delta, [this](const QString&) { ++appends; });
    }
    QStringList summaries() const {
        QStringList out;
        for (const auto& entry : store.entries()) {
            out.append(entry.direction + " " + entry.summary);
        }
        return out;
    }
};

TEST_F(SerialLogBatcherTest, BatchesOrdinaryLinesIntoOneAppendPerInterval) {
    batcher.enqueueLogs({SerialLogEntry::make("RX", "a")}, false);
    batcher.enqueueLogs({SerialLogEntry::make("RX", "b"), SerialLogEntry::make("TX", "c")}, false);
    EXPECT_EQ(store.entries().size(), 0);
    EXPECT_EQ(clock.pendingCount(), 1u);
    clock.advance(499ms);
    EXPECT_EQ(store.entries().size(), 0);
    clock.advance(1ms);
    EXPECT_EQ(summaries(), QStringList({"RX a", "RX b", "TX c"}));
    EXPECT_EQ(appends, 1);

    batcher.enqueueLogs({SerialLogEntry::make("RX", "now")}, true);
    EXPECT_EQ(store.entries().size(), 4);
}

TEST_F(SerialLogBatcherTest, MiddleFramesBecomeSummariesAndFinishForcesTheLastOne) {
    batcher.enqueueLogs({SerialLogEntry::make("RX", "first")}, true);
    rxBytes = 1000;
    for (int i = 0; i < 300; ++i) {
        batcher.noteMiddleFrames(1);
    }
    clock.advance(500ms);
    rxBytes = 5000;
    for (int i = 0; i < 700; ++i) {
        batcher.noteMiddleFrames(1);
    }
    batcher.enqueueLogs({SerialLogEntry::make("RX", "finish")}, true);
    batcher.flushBulkSummary(true);
    clock.advance(2000ms);
    EXPECT_EQ(summaries(), QStringList({"RX first", "RX 接收中 MIDDLE ×300 · 本次 RX 1000 B",
                                        "RX finish", "RX 接收中 MIDDLE ×700 · 本次 RX 5000 B"}));
    EXPECT_EQ(batcher.bulkMiddlePending(), 0);
}

TEST_F(SerialLogBatcherTest, LinesBatchedBehindASummaryThatHadNothingToSayStillArrive) {
    batcher.noteMiddleFrames(3);
    batcher.enqueueLogs({SerialLogEntry::make("RX", "late")}, false); // throttle held
    batcher.resetMiddleCount();                                       // a new transfer began
    clock.advance(500ms);
    clock.advance(500ms);
    EXPECT_EQ(summaries(), QStringList({"RX late"}));
}

TEST_F(SerialLogBatcherTest, NoiseIsMergedIntoOneWarningPerSummaryPeriod) {
    batcher.noteIssues(2);
    clock.advance(1000ms);
    batcher.noteIssues(5);
    clock.advance(999ms);
    EXPECT_TRUE(store.entries().isEmpty());
    clock.advance(1ms);   // the summary is due and batched
    clock.advance(500ms); // the batch is shown
    EXPECT_EQ(summaries(), QStringList({"WRN RX 噪声/无效帧 ×7（已合并）"}));
    clock.advance(5000ms);
    EXPECT_EQ(store.entries().size(), 1);
}

TEST_F(SerialLogBatcherTest, WhilePausedEntriesAreDroppedNotKept) {
    batcher.setPaused(true);
    batcher.enqueueLogs({SerialLogEntry::make("RX", "x")}, true);
    batcher.appendNow(SerialLogEntry::make("SYS", "y"));
    batcher.noteIssues(3);
    clock.advance(3000ms);
    batcher.setPaused(false);
    clock.advance(3000ms);
    EXPECT_TRUE(store.entries().isEmpty());
    batcher.appendNow(SerialLogEntry::make("SYS", "z"));
    EXPECT_EQ(summaries(), QStringList({"SYS z"}));
}

TEST_F(SerialLogBatcherTest, ClearForgetsEverythingPending) {
    batcher.enqueueLogs({SerialLogEntry::make("RX", "x")}, false);
    batcher.noteMiddleFrames(4);
    batcher.noteIssues(1);
    batcher.clear();
    EXPECT_EQ(batcher.bufferedCount(), 0);
    EXPECT_EQ(batcher.pendingIssueCount(), 0);
    clock.advance(5000ms);
    EXPECT_TRUE(store.entries().isEmpty());
}

} // namespace
} // namespace orvane
