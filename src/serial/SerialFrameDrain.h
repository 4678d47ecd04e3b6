#pragma once

#include "protocol/FrameIssue.h"
#include "protocol/ProtocolWire.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace orvane {

// Cutting frames out of a serial session's receive buffer, and keeping that buffer bounded.
// The caller holds the buffer's lock around both.
namespace SerialFrameDrain {

inline constexpr int maxDrainPasses = 4096;
// The largest frame the codec accepts must fit whole: a ceiling of 64 KiB would cut every
// frame with a payload above 65515 bytes in half while it is still arriving. Drained
// buffers stay below this (extraction drops everything that cannot start a frame), so the
// trim is a guard against a drain that stopped early, not part of normal operation.
inline constexpr qsizetype rxBufferCeiling =
    ProtocolWire::maxPayloadLength + ProtocolWire::frameOverhead;

struct DrainOutcome {
    int passes = 0;
    // The pass cap was reached and the buffer was emptied; `clearedBytes` were thrown away.
    bool capped = false;
    qsizetype clearedBytes = 0;
};

// Repeatedly skips to the first 57 AB sync pair and cuts one frame there, appending each
// frame to `frames` and each problem to `issues`, until no complete frame is left, the
// buffer stops shrinking or `maxPasses` passes have run. A buffer without any sync pair
// keeps at most a trailing 0x57, which may be the first half of a pair split across reads.
// When the last allowed pass has run the buffer is emptied, whatever that pass found.
DrainOutcome drainProtocolFrames(QByteArray& rxBuffer, QList<QByteArray>& frames,
                                 QList<FrameIssue>& issues, int maxPasses = maxDrainPasses);

struct Trim {
    qsizetype before = 0;
    qsizetype after = 0;
};

// When the buffer holds more than `ceiling` bytes, drops its older half (size / 2 bytes,
// rounded down) and reports the sizes; a buffer that long holds no frame worth waiting for.
std::optional<Trim> trimRxBuffer(QByteArray& rxBuffer, qsizetype ceiling = rxBufferCeiling);

} // namespace SerialFrameDrain
} // namespace orvane
