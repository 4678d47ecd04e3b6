#include "serial/SerialFrameDrain.h"

#include "protocol/ProtocolWire.h"

namespace orvane::SerialFrameDrain {

namespace {

constexpr char syncFirst = '\x57';
constexpr char syncSecond = '\xAB';

bool startsWithSync(const QByteArray& buffer) {
    return buffer.size() >= 2 && buffer.at(0) == syncFirst && buffer.at(1) == syncSecond;
}

} // namespace

DrainOutcome drainProtocolFrames(QByteArray& rxBuffer, QList<QByteArray>& frames,
                                 QList<FrameIssue>& issues, int maxPasses) {
    static const QByteArray syncPair("\x57\xAB", 2);
    DrainOutcome outcome;
    while (outcome.passes < maxPasses) {
        ++outcome.passes;
        const qsizetype syncAt = rxBuffer.indexOf(syncPair);
        if (syncAt < 0) {
            if (rxBuffer.size() >= 2) {
                if (rxBuffer.back() == syncFirst) {
                    rxBuffer = rxBuffer.right(1);
                } else {
                    rxBuffer.clear();
                }
            }
            break;
        }
        if (syncAt > 0) {
            rxBuffer.remove(0, syncAt);
        }
        if (!startsWithSync(rxBuffer)) {
            break;
        }
        const qsizetype lengthBefore = rxBuffer.size();
        std::optional<QByteArray> frame = ProtocolWire::extractFrame(rxBuffer, issues);
        if (!frame) {
            break;
        }
        frames.append(std::move(*frame));
        if (rxBuffer.size() >= lengthBefore) {
            break;
        }
    }
    if (outcome.passes >= maxPasses) {
        outcome.capped = true;
        outcome.clearedBytes = rxBuffer.size();
        rxBuffer.clear();
    }
    return outcome;
}

std::optional<Trim> trimRxBuffer(QByteArray& rxBuffer, qsizetype ceiling) {
    if (rxBuffer.size() <= ceiling) {
        return std::nullopt;
    }
    Trim trim;
    trim.before = rxBuffer.size();
    rxBuffer.remove(0, trim.before / 2);
    trim.after = rxBuffer.size();
    return trim;
}

} // namespace orvane::SerialFrameDrain
