// Feeds arbitrary bytes to the FIRST_PACKET parser: it must agree with validating the
// header bytes on their own, and must never look past byte 52.
#include "FuzzCheck.h"
#include "protocol/TransWire.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));

    auto req = TransWire::parseFirstTransReq(input);
    if (size < 53) {
        FUZZ_CHECK(!req && req.error().code() == TransError::Code::firstReqTooShort);
        return 0;
    }
    const QByteArrayView headerBytes = input.sliced(1, 52);
    auto header = TransWire::validateTransHeaderWire(headerBytes);
    FUZZ_CHECK(req.ok() == header.ok());
    if (!req) {
        FUZZ_CHECK(req.error() == header.error());
        return 0;
    }
    FUZZ_CHECK(req->needResponse == quint8(input[0]));
    FUZZ_CHECK(req->header == header.value());

    // The sender's form (needResponse 1, header twice) of an accepted header parses to the
    // same header, and trailing bytes never change the outcome.
    const QByteArray senderForm = TransWire::buildFirstTransReqPayload(headerBytes);
    FUZZ_CHECK(senderForm.size() == 105);
    auto reparsed = TransWire::parseFirstTransReq(senderForm);
    FUZZ_CHECK(reparsed.ok() && reparsed->needResponse == 1 && reparsed->header == req->header);
    auto prefix = TransWire::parseFirstTransReq(input.first(53));
    FUZZ_CHECK(prefix.ok() && prefix.value() == req.value());
    return 0;
}
