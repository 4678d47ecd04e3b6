#pragma once

#include "serial/SerialLogEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace orvane {

// What one batch of received frames produced for the debug log.
struct FrameProcessResult {
    QList<SerialLogEntry> logEntries;
    qint64 middleCount = 0; // MIDDLE_PACKETs seen: counted, never logged one by one
    bool sawFirstPacket = false;
    bool sawFinish = false;
    // Worth showing at once: no bulk data in the batch, or something was logged.
    bool significant = true;
};

// Hands received frames to the frame handler, writes its replies back and prepares the
// debug-log lines, keeping bulk data (MIDDLE_PACKETs and the replies to them) out of the
// log so a transfer does not flood it.
namespace SerialFrameProcessor {

using FrameHandler = std::function<QList<QByteArray>(const QByteArray& frame)>;
using ReplyWriter = std::function<void(const QByteArray& reply)>;

// The header's sequence number, or 0 when `frame` is no frame header.
quint32 frameSn(const QByteArray& frame);

// "sn=<sn> · <length> B"
QString logSummary(quint32 sn, qsizetype length);
// The frame cut to its first and last 16 bytes when longer than 32.
QString hexRow(const QByteArray& frame);
SerialLogEntry logEntry(const QString& direction, const QByteArray& frame);

// For each frame in order: classifies it by type (a FIRST_PACKET calls `onFirstPacket`,
// which resets the per-transfer byte count), calls `handler` when there is one, writes
// every reply with `writeReply` and logs the frame as "RX" and each reply as "TX"; a
// MIDDLE_PACKET and its replies are only counted.
FrameProcessResult processFrames(const QList<QByteArray>& frames, const FrameHandler& handler,
                                 const ReplyWriter& writeReply,
                                 const std::function<void()>& onFirstPacket);

} // namespace SerialFrameProcessor
} // namespace orvane
