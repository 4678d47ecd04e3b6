// Feeds arbitrary bytes to the MIDDLE_PACKET head parser and the chunk split the receiver
// relies on: the chunk must lie inside the payload, its size must follow the flag rule,
// and a packet whose checksum verifies must be exactly what the builder would send.
#include "FuzzCheck.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <cstring>

using namespace orvane;

namespace {

// Arbitrary offsets, negative and huge ones included, must read 0 instead of leaving the
// buffer.
void checkLoadAtArbitraryOffset(QByteArrayView input) {
    if (input.size() < 8) {
        return;
    }
    qint64 offset = 0;
    std::memcpy(&offset, input.data(), sizeof offset);
    const quint32 value = TransWire::loadLEUInt32(input, qsizetype(offset));
    if (offset < 0 || offset > input.size() - 4) {
        FUZZ_CHECK(value == 0);
    }
    QByteArray copy = input.toByteArray();
    TransWire::storeLEUInt32(copy, qsizetype(offset), 0xDEADBEEF);
    FUZZ_CHECK(copy.size() == input.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    checkLoadAtArbitraryOffset(input);

    auto head = TransWire::parseCommPacketHead(input);
    if (size < 9) {
        FUZZ_CHECK(!head && head.error().code() == TransError::Code::middleHeadTooShort);
        return 0;
    }
    FUZZ_CHECK(head.ok());
    FUZZ_CHECK(head->flag == quint8(input[0]));
    FUZZ_CHECK(head->startIndex == TransWire::loadLEUInt32(input, 1));
    FUZZ_CHECK(head->endIndex == TransWire::loadLEUInt32(input, 5));

    const MiddleChunk chunk = TransWire::splitMiddleChunk(input, head->flag);
    const qsizetype body = input.size() - 9;
    FUZZ_CHECK(chunk.data.isEmpty() || (chunk.data.data() == input.data() + 9));
    FUZZ_CHECK(chunk.calculatedChecksum ==
               (chunk.checksumChecked ? ProtocolWire::mcAddCRC(chunk.data) : 0));
    if (head->flag == TransWire::middleFlagChecked) {
        FUZZ_CHECK(chunk.checksumChecked);
        if (body >= 4) {
            FUZZ_CHECK(chunk.data.size() == body - 4);
            FUZZ_CHECK(chunk.receivedChecksum == TransWire::loadLEUInt32(input, input.size() - 4));
        } else {
            FUZZ_CHECK(chunk.data.size() == body);
            FUZZ_CHECK(chunk.receivedChecksum == 0);
            FUZZ_CHECK(chunk.checksumOk() == (chunk.calculatedChecksum == 0));
        }
        if (chunk.checksumOk() && body >= 4) {
            const QByteArray rebuilt = TransWire::buildTransMiddlePayload(
                chunk.data, head->startIndex, head->endIndex, true);
            FUZZ_CHECK(rebuilt == input);
        }
    } else {
        FUZZ_CHECK(!chunk.checksumChecked && chunk.checksumOk());
        FUZZ_CHECK(chunk.data.size() == body);
    }

    // Whatever was received, re-sending the chunk yields a packet that verifies.
    const QByteArray resent =
        TransWire::buildTransMiddlePayload(chunk.data, head->startIndex, head->endIndex, true);
    auto resentHead = TransWire::parseCommPacketHead(resent);
    FUZZ_CHECK(resentHead.ok());
    FUZZ_CHECK(resentHead->flag == TransWire::middleFlagChecked);
    FUZZ_CHECK(resentHead->startIndex == head->startIndex &&
               resentHead->endIndex == head->endIndex);
    const MiddleChunk resentChunk = TransWire::splitMiddleChunk(resent, resentHead->flag);
    FUZZ_CHECK(resentChunk.checksumOk() && resentChunk.data == chunk.data);
    return 0;
}
