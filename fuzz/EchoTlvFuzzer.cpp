// parseEchoTLV, its failure reason and the log formatting on arbitrary payloads: a
// payload is either parsed or has a reason other than "unknown", never both.

#include "protocol/ProtocolWire.h"

#include <cstdint>
#include <cstdlib>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView payload(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto tlv = PW::parseEchoTLV(payload);
    const QString reason = PW::echoTLVParseFailureReason(payload);
    if (tlv.has_value() != (reason == QLatin1String("unknown"))) {
        std::abort();
    }
    if (tlv) {
        if (tlv->value.size() != qsizetype(tlv->length) || tlv->length == 0 || tlv->length > 40) {
            std::abort();
        }
        (void)PW::formatTLVValue(*tlv);
    }
    // Formatting any value, not only valid ones, must be safe.
    (void)PW::formatTLVValue({0x14, quint32(size), payload.toByteArray()});
    (void)PW::formatHexCompactTruncated(payload, 32, 16);
    return 0;
}
