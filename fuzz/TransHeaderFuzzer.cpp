// Feeds arbitrary bytes to the transfer header parser and validator. Beyond not crashing,
// a header that validates must have been read from the right offsets, must satisfy every
// promise the validator makes, and must survive being rebuilt by the builder.
#include "FuzzCheck.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <cstdint>

using namespace orvane;

namespace {

void checkNameInvariants(const QString& name) {
    FUZZ_CHECK(name == name.trimmed());
    FUZZ_CHECK(!name.contains(QChar(0)));
    FUZZ_CHECK(name.toUtf8().size() <= TransWire::fileNameFieldLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));

    auto parsed = TransWire::parseTransHeader(input);
    auto validated = TransWire::validateTransHeaderWire(input);
    if (!parsed) {
        FUZZ_CHECK(size < 52);
        FUZZ_CHECK(parsed.error().code() == TransError::Code::headerTooShort);
        FUZZ_CHECK(!validated && validated.error() == parsed.error());
        return 0;
    }
    const TransHeader& header = parsed.value();
    checkNameInvariants(header.fileName);

    // The numeric fields come from their fixed offsets.
    QByteArray fields = input.first(52).toByteArray();
    fields.replace(4, 30, QByteArray(30, '\0'));
    QByteArray rewritten(52, '\0');
    qToLittleEndian<quint16>(header.headerLength, rewritten.data());
    qToLittleEndian<quint16>(header.dataType, rewritten.data() + 2);
    qToLittleEndian<quint16>(header.productID, rewritten.data() + 34);
    qToLittleEndian<quint16>(header.appID, rewritten.data() + 36);
    qToLittleEndian<quint16>(header.appVer, rewritten.data() + 38);
    TransWire::storeLEUInt32(rewritten, 40, header.totalFileSize);
    TransWire::storeLEUInt32(rewritten, 44, header.mcAddChecksum);
    TransWire::storeLEUInt32(rewritten, 48, header.headChecksum);
    FUZZ_CHECK(rewritten == fields);

    if (!validated) {
        const TransError& error = validated.error();
        if (error.code() == TransError::Code::headChecksumMismatch) {
            FUZZ_CHECK(header.headerLength >= 4 && header.headerLength <= 52);
            FUZZ_CHECK(error.recv() == header.headChecksum);
            FUZZ_CHECK(error.calc() ==
                       ProtocolWire::mcAddCRC(input.first(header.headerLength - 4)));
            FUZZ_CHECK(error.calc() != error.recv());
        } else if (error.code() == TransError::Code::invalidHeaderLength) {
            FUZZ_CHECK(header.headerLength < 4 || header.headerLength > 52);
        } else {
            FUZZ_CHECK(error.code() == TransError::Code::totalSizeTooSmall);
            FUZZ_CHECK(header.totalFileSize < header.headerLength);
        }
        return 0;
    }

    FUZZ_CHECK(validated.value() == header);
    FUZZ_CHECK(header.headerLength >= 4 && header.headerLength <= 52);
    FUZZ_CHECK(ProtocolWire::mcAddCRC(input.first(header.headerLength - 4)) == header.headChecksum);
    FUZZ_CHECK(header.announcedPayloadSize() >= 0);

    // Rebuilding from the decoded record gives a header that validates and carries the same
    // type and, for files whose name fits the 29-byte limit, the same name.
    const QByteArrayView payload = input.sliced(52);
    const QByteArray rebuilt =
        TransWire::buildTransHeader(header.dataType, payload, header.fileName);
    FUZZ_CHECK(rebuilt.size() == 52);
    auto again = TransWire::validateTransHeaderWire(rebuilt);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(again->dataType == header.dataType);
    FUZZ_CHECK(again->announcedPayloadSize() == payload.size());
    FUZZ_CHECK(again->mcAddChecksum == (payload.isEmpty() ? 0 : ProtocolWire::mcAddCRC(payload)));
    if (header.dataType == TransWire::dataTypeFile &&
        header.fileName.toUtf8().size() <= TransWire::fileNameMaxBytes) {
        FUZZ_CHECK(again->fileName == header.fileName);
    } else if (header.dataType != TransWire::dataTypeFile) {
        FUZZ_CHECK(again->fileName.isEmpty());
    }
    checkNameInvariants(again->fileName);
    return 0;
}
