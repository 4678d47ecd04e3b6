// parseEchoTLV, its failure reason and the log formatting on arbitrary payloads: a
// payload is either parsed or has a reason other than "unknown", never both.

#include "FuzzCheck.h"
#include "protocol/ProtocolWire.h"

#include <cstdint>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView payload(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto tlv = PW::parseEchoTLV(payload);
    const QString reason = PW::echoTLVParseFailureReason(payload);
    FUZZ_CHECK(tlv.has_value() == (reason == QLatin1String("unknown")));
    if (tlv) {
        FUZZ_CHECK(tlv->value.size() == qsizetype(tlv->length));
        FUZZ_CHECK(tlv->length >= 1 && tlv->length <= PW::echoTLVMaxLength);
        FUZZ_CHECK(!PW::formatTLVValue(*tlv).isEmpty());
    }
    // Formatting any value, not only valid ones, must be safe.
    (void)PW::formatTLVValue({0x14, quint32(size), payload.toByteArray()});
    (void)PW::formatHexCompactTruncated(payload, 32, 16);
    return 0;
}
