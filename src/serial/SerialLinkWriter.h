#pragma once

#include "common/Result.h"
#include "common/WorkQueue.h"
#include "serial/SerialConnectionController.h"
#include "serial/SerialConnectionHost.h"
#include "serial/SerialWriteError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace orvane {

// Sends frames over the serial port while it is connected. Every send runs
// on the I/O queue, after whatever connection work is queued there. Also keeps the
// exclusive send gate with which a bulk transfer marks itself.
class SerialLinkWriter {
public:
    using WriteResult = Status<SerialWriteError>;
    using WriteCompletion = std::function<void(WriteResult)>;

    // What the writer needs from the service; called on the I/O queue.
    struct Links {
        // A debug-log line that also goes to the diagnostics log ("WRN").
        std::function<void(const QString& direction, const QString& summary,
                           const QStringList& rows)>
            log;
        // The "TX" line of a frame sent with a label.
        std::function<void(const QString& summary, const QString& hexRow)> logSent;
    };

    SerialLinkWriter(WorkQueue& ioQueue, SerialConnectionController& controller, Links links);

    // Sends now; I/O queue only.
    WriteResult writeLocked(const QByteArray& data);
    // Sends on the I/O queue, then reports to `completion` there. With a label the frame is
    // logged (MIDDLE_PACKETs excepted); without a completion a failure is logged instead.
    void writeAsync(QByteArray data, std::optional<QString> label, WriteCompletion completion);
    // The same, waiting: for worker threads, never the main thread or the I/O queue. A
    // send still queued after `queueLimit` is withdrawn (serialClosed); one under way is
    // waited for at most `writeLimit` (the port bounds its own writes well within it).
    WriteResult writeAndWait(QByteArray data, std::optional<QString> label,
                             std::chrono::milliseconds queueLimit,
                             std::chrono::milliseconds writeLimit);

    void beginExclusiveSend();
    void endExclusiveSend();
    qint64 exclusiveSendDepth() const;

private:
    void sendLocked(const QByteArray& data, const std::optional<QString>& label,
                    const WriteCompletion& completion);

    WorkQueue& ioQueue_;
    SerialConnectionController& controller_;
    const Links links_;

    mutable std::mutex sendGateLock_;
    qint64 exclusiveSendDepth_ = 0;
};

} // namespace orvane
