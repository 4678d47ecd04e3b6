#pragma once

#include "serial/SerialLogEntry.h"

#include <QList>
#include <QtGlobal>

#include <chrono>
#include <functional>

namespace orvane {

class SerialLogStore;

// Feeds the debug log without flooding the user interface during transfers: ordinary lines
// are appended in batches at most once per interval, MIDDLE_PACKETs are only counted and
// summarised, and frame-extraction problems (line noise) are merged into one warning per
// summary period. Lives on the main thread; every member is called there.
class SerialLogBatcher {
public:
    using Task = std::function<void()>;
    // Runs the task on this thread after the delay (a single-shot timer in the service,
    // a manual clock in tests).
    using Scheduler = std::function<void(std::chrono::milliseconds delay, Task task)>;

    SerialLogBatcher(SerialLogStore& store, Scheduler schedule,
                     std::chrono::milliseconds uiInterval,
                     std::chrono::milliseconds issueSummaryDelay,
                     std::function<quint64()> transferRxBytes);

    // While paused, new entries are dropped, not kept for later.
    void setPaused(bool paused) { paused_ = paused; }
    bool isPaused() const { return paused_; }

    // Adds entries; shown at once when `immediate`, else with the next batch.
    void enqueueLogs(const QList<SerialLogEntry>& entries, bool immediate);
    void flushLogBatch();
    // One line shown at once.
    void appendNow(const SerialLogEntry& entry);

    // MIDDLE_PACKETs received; summarised as "接收中 MIDDLE ×<n>" within one interval.
    void noteMiddleFrames(qint64 count);
    // A new transfer started: its MIDDLE count starts from 0.
    void resetMiddleCount() { bulkMiddlePending_ = 0; }
    // Writes the pending MIDDLE summary; `force` shows it at once.
    void flushBulkSummary(bool force);

    // Frame problems; merged into one "RX 噪声/无效帧" warning after the summary delay.
    void noteIssues(qint64 count);

    // Forgets everything pending (the store is cleared by the caller).
    void clear();

    qint64 bulkMiddlePending() const { return bulkMiddlePending_; }
    qint64 pendingIssueCount() const { return pendingIssueCount_; }
    qsizetype bufferedCount() const { return logBatchBuffer_.size(); }

private:
    void scheduleFlush();
    void flushIssueSummary();

    SerialLogStore& store_;
    Scheduler schedule_;
    std::chrono::milliseconds uiInterval_;
    std::chrono::milliseconds issueSummaryDelay_;
    std::function<quint64()> transferRxBytes_;

    bool paused_ = false;
    QList<SerialLogEntry> logBatchBuffer_;
    bool logUIThrottleScheduled_ = false;
    qint64 bulkMiddlePending_ = 0;
    qint64 pendingIssueCount_ = 0;
    bool issueSummaryScheduled_ = false;
};

} // namespace orvane
