#include "serial/SerialLogBatcher.h"

#include "serial/SerialLogStore.h"

namespace orvane {

SerialLogBatcher::SerialLogBatcher(SerialLogStore& store, Scheduler schedule,
                                   std::chrono::milliseconds uiInterval,
                                   std::chrono::milliseconds issueSummaryDelay,
                                   std::function<quint64()> transferRxBytes)
    : store_(store)
    , schedule_(std::move(schedule))
    , uiInterval_(uiInterval)
    , issueSummaryDelay_(issueSummaryDelay)
    , transferRxBytes_(std::move(transferRxBytes)) {}

void SerialLogBatcher::enqueueLogs(const QList<SerialLogEntry>& entries, bool immediate) {
    if (paused_ || entries.isEmpty()) {
        return;
    }
    logBatchBuffer_.append(entries);
    if (immediate) {
        flushLogBatch();
    } else if (!logUIThrottleScheduled_) {
        scheduleFlush();
    }
}

void SerialLogBatcher::scheduleFlush() {
    logUIThrottleScheduled_ = true;
    schedule_(uiInterval_, [this] { flushLogBatch(); });
}

void SerialLogBatcher::flushLogBatch() {
    logUIThrottleScheduled_ = false;
    QList<SerialLogEntry> taken;
    taken.swap(logBatchBuffer_);
    if (!taken.isEmpty() && !paused_) {
        store_.append(taken);
    }
    // The store's observers may have logged more while it appended.
    if (!logBatchBuffer_.isEmpty() && !logUIThrottleScheduled_) {
        scheduleFlush();
    }
}

void SerialLogBatcher::appendNow(const SerialLogEntry& entry) {
    if (paused_) {
        return;
    }
    logBatchBuffer_.append(entry);
    flushLogBatch();
}

void SerialLogBatcher::noteMiddleFrames(qint64 count) {
    bulkMiddlePending_ += count;
    if (bulkMiddlePending_ > 0 && !logUIThrottleScheduled_) {
        logUIThrottleScheduled_ = true;
        schedule_(uiInterval_, [this] { flushBulkSummary(false); });
    }
}

void SerialLogBatcher::flushBulkSummary(bool force) {
    logUIThrottleScheduled_ = false;
    if (bulkMiddlePending_ > 0) {
        const qint64 count = bulkMiddlePending_;
        bulkMiddlePending_ = 0;
        const quint64 rxBytes = transferRxBytes_ ? transferRxBytes_() : 0;
        enqueueLogs(
            {SerialLogEntry::make(
                QStringLiteral("RX"),
                QStringLiteral("接收中 MIDDLE ×%1 · 本次 RX %2 B").arg(count).arg(rxBytes))},
            force);
    }
    // Lines batched while this summary held the throttle would otherwise wait for the next
    // event to be shown.
    if (!logBatchBuffer_.isEmpty() && !logUIThrottleScheduled_) {
        scheduleFlush();
    }
}

void SerialLogBatcher::noteIssues(qint64 count) {
    pendingIssueCount_ += count;
    if (!issueSummaryScheduled_) {
        issueSummaryScheduled_ = true;
        schedule_(issueSummaryDelay_, [this] { flushIssueSummary(); });
    }
}

void SerialLogBatcher::flushIssueSummary() {
    issueSummaryScheduled_ = false;
    if (pendingIssueCount_ <= 0) {
        return;
    }
    const qint64 count = pendingIssueCount_;
    pendingIssueCount_ = 0;
    if (paused_) {
        return;
    }
    logBatchBuffer_.append(SerialLogEntry::make(
        QStringLiteral("WRN"), QStringLiteral("RX 噪声/无效帧 ×%1（已合并）").arg(count)));
    if (!logUIThrottleScheduled_) {
        scheduleFlush();
    }
}

void SerialLogBatcher::clear() {
    logBatchBuffer_.clear();
    logUIThrottleScheduled_ = false;
    bulkMiddlePending_ = 0;
    pendingIssueCount_ = 0;
    issueSummaryScheduled_ = false;
}

} // namespace orvane
