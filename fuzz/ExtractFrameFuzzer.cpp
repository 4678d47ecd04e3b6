// Feeds a random stream in random pieces through frame extraction and checks the
// bookkeeping: the buffer only ever loses bytes from its front, every returned frame
// validates and ends what was removed, and the removed bytes plus what remains are
// exactly the stream, with nothing lost or duplicated.

#include "FuzzCheck.h"
#include "protocol/ProtocolWire.h"

#include <cstdint>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte chooses the piece sizes; the rest is the stream.
    const unsigned seed = data[0];
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    QByteArray buffer;
    QByteArray removedAll;
    QList<FrameIssue> issues;
    qsizetype at = 0;
    unsigned piece = seed | 1;
    while (at < stream.size()) {
        piece = piece * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(stream.size() - at, 1 + (piece >> 16) % 300);
        buffer.append(stream.sliced(at, n));
        at += n;

        const qsizetype maxCalls = buffer.size() + 1; // every productive call shrinks the buffer
        for (qsizetype calls = 1;; ++calls) {
            FUZZ_CHECK(calls <= maxCalls);
            const QByteArray before = buffer;
            const qsizetype issuesBefore = issues.size();
            const auto frame = PW::extractFrame(buffer, issues);

            FUZZ_CHECK(buffer.size() <= before.size());
            FUZZ_CHECK(before.endsWith(buffer)); // only the front was taken
            const QByteArray removed = before.first(before.size() - buffer.size());
            removedAll.append(removed);

            if (frame) {
                FUZZ_CHECK(PW::validateFrameDetailed(*frame).ok());
                FUZZ_CHECK(removed.endsWith(*frame));
                continue;
            }
            if (removed.isEmpty()) {
                // Nothing taken means the buffer waits for more bytes, silently.
                FUZZ_CHECK(issues.size() == issuesBefore);
                break;
            }
            // Bytes dropped without a frame are reported, in full, by the last issue.
            FUZZ_CHECK(issues.size() > issuesBefore);
            FUZZ_CHECK(issues.back().data == removed);
        }
    }
    FUZZ_CHECK(removedAll + buffer == stream);
    for (const FrameIssue& issue : issues) {
        FUZZ_CHECK(issue.data.has_value() && !issue.message.isEmpty());
    }
    return 0;
}
