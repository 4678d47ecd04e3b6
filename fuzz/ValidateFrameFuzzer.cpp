// validateFrameDetailed and parseHeader on arbitrary bytes: never crash, refuse with
// bad sync exactly when no header parses, and a frame that validates is rebuilt byte
// for byte from what was decoded.

#include "FuzzCheck.h"
#include "protocol/ProtocolWire.h"

#include <cstdint>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto header = PW::parseHeader(input);
    const auto result = PW::validateFrameDetailed(input);
    if (!result.ok()) {
        FUZZ_CHECK(!result.error().description().isEmpty());
        FUZZ_CHECK(header.has_value() ==
                   (result.error().as<FrameValidationError::BadSync>() == nullptr));
        return 0;
    }
    const DecodedFrame& frame = result.value();
    FUZZ_CHECK(header && *header == frame.header);
    FUZZ_CHECK(frame.payload.size() == qsizetype(frame.header.len));
    // The builder writes totalLen = len + 6; a frame that says so is rebuilt exactly.
    if (frame.header.totalLen == frame.header.len + 6) {
        const QByteArray rebuilt = PW::buildPacket(frame.header.channel, frame.header.type,
                                                   frame.header.sn, frame.payload);
        FUZZ_CHECK(rebuilt == input.first(rebuilt.size()));
    }
    (void)PW::typeName(frame.header.type);
    (void)PW::formatHexCompactTruncated(frame.payload, 32, 16);
    return 0;
}
