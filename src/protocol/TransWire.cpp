#include "protocol/TransWire.h"

#include "common/Utf8.h"
#include "protocol/ProtocolWire.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace orvane::TransWire {

namespace {

// Header field offsets (layout in TransHeader.h).
constexpr qsizetype headerLengthOffset = 0;
constexpr qsizetype dataTypeOffset = 2;
constexpr qsizetype productIDOffset = 34;
constexpr qsizetype appIDOffset = 36;
constexpr qsizetype appVerOffset = 38;
constexpr qsizetype totalFileSizeOffset = 40;
constexpr qsizetype mcAddChecksumOffset = 44;
constexpr qsizetype headChecksumOffset = 48;

constexpr qsizetype startIndexOffset = 1;
constexpr qsizetype endIndexOffset = 5;

// Only called on offsets the caller has already checked against a 52-byte minimum.
quint16 readU16(QByteArrayView data, qsizetype offset) {
    Q_ASSERT(offset >= 0 && offset + 2 <= data.size());
    return qFromLittleEndian<quint16>(data.data() + offset);
}

void writeU16(QByteArray& data, qsizetype offset, quint16 value) {
    Q_ASSERT(offset >= 0 && offset + 2 <= data.size());
    qToLittleEndian<quint16>(value, data.data() + offset);
}

quint16 appIDFor(quint16 dataType) {
    switch (dataType) {
    case dataTypeImage:
        return appIDImage;
    case dataTypeFile:
        return appIDFile;
    default:
        return appIDText;
    }
}

// A name that is not valid UTF-8 (a peer's cut through a multi-byte character included)
// becomes empty rather than a name with replacement characters: callers treat an empty
// name as missing instead of storing a file under a mangled one.
QString decodeFileName(QByteArrayView field) {
    const auto terminator = std::find(field.begin(), field.end(), '\0');
    const QByteArrayView bytes = field.first(terminator - field.begin());
    // A sequence cut short at the end counts as invalid, not as bytes held back.
    return decodeUtf8Strict(bytes).value_or(QString()).trimmed();
}

} // namespace

QByteArray buildTransHeader(quint16 dataType, QByteArrayView payload, const QString& fileName) {
    QByteArray header(transHeaderLength, '\0');
    writeU16(header, headerLengthOffset, quint16(transHeaderLength));
    writeU16(header, dataTypeOffset, dataType);
    if (dataType == dataTypeFile && !fileName.isEmpty()) {
        const QByteArray utf8 = fileName.toUtf8();
        const qsizetype count = std::min(utf8.size(), fileNameMaxBytes);
        std::memcpy(header.data() + fileNameOffset, utf8.constData(), size_t(count));
    }
    writeU16(header, productIDOffset, productID);
    writeU16(header, appIDOffset, appIDFor(dataType));
    writeU16(header, appVerOffset, 0);
    // The field is 32 bits wide; payloads beyond 4 GiB cannot be announced and wrap.
    storeLEUInt32(header, totalFileSizeOffset,
                  quint32(quint64(payload.size()) + transHeaderLength));
    storeLEUInt32(header, mcAddChecksumOffset,
                  payload.isEmpty() ? 0 : ProtocolWire::mcAddCRC(payload));
    storeLEUInt32(header, headChecksumOffset,
                  ProtocolWire::mcAddCRC(QByteArrayView(header).first(headChecksumOffset)));
    return header;
}

Result<TransHeader, TransError> parseTransHeader(QByteArrayView data) {
    if (data.size() < transHeaderLength) {
        return fail(TransError(TransError::Code::headerTooShort));
    }
    TransHeader header;
    header.headerLength = readU16(data, headerLengthOffset);
    header.dataType = readU16(data, dataTypeOffset);
    header.fileName = decodeFileName(data.sliced(fileNameOffset, fileNameFieldLength));
    header.productID = readU16(data, productIDOffset);
    header.appID = readU16(data, appIDOffset);
    header.appVer = readU16(data, appVerOffset);
    header.totalFileSize = loadLEUInt32(data, totalFileSizeOffset);
    header.mcAddChecksum = loadLEUInt32(data, mcAddChecksumOffset);
    header.headChecksum = loadLEUInt32(data, headChecksumOffset);
    return header;
}

Result<TransHeader, TransError> validateTransHeaderWire(QByteArrayView data) {
    auto parsed = parseTransHeader(data);
    if (!parsed) {
        return parsed;
    }
    const TransHeader& header = parsed.value();
    // headerLength comes from the peer: bound it before it sizes the checksum range.
    if (header.headerLength < 4 || header.headerLength > transHeaderLength ||
        header.headerLength > data.size()) {
        return fail(TransError(TransError::Code::invalidHeaderLength));
    }
    const quint32 calc = ProtocolWire::mcAddCRC(data.first(header.headerLength - 4));
    if (calc != header.headChecksum) {
        return fail(TransError::headChecksumMismatch(calc, header.headChecksum));
    }
    if (header.totalFileSize < header.headerLength) {
        return fail(TransError(TransError::Code::totalSizeTooSmall));
    }
    return parsed;
}

Result<FirstTransReq, TransError> parseFirstTransReq(QByteArrayView payload) {
    if (payload.size() < firstTransReqLength) {
        return fail(TransError(TransError::Code::firstReqTooShort));
    }
    auto header = validateTransHeaderWire(payload.sliced(1, transHeaderLength));
    if (!header) {
        return fail(header.error());
    }
    return FirstTransReq{quint8(payload[0]), std::move(header).value()};
}

QByteArray buildFirstTransReqPayload(QByteArrayView header) {
    Q_ASSERT(header.size() == transHeaderLength);
    QByteArray payload;
    payload.reserve(1 + 2 * header.size());
    payload.append(char(0x01));
    payload.append(header);
    payload.append(header);
    return payload;
}

Result<CommPacketHead, TransError> parseCommPacketHead(QByteArrayView payload) {
    if (payload.size() < middleHeadLength) {
        return fail(TransError(TransError::Code::middleHeadTooShort));
    }
    return CommPacketHead{quint8(payload[0]), loadLEUInt32(payload, startIndexOffset),
                          loadLEUInt32(payload, endIndexOffset)};
}

MiddleChunk splitMiddleChunk(QByteArrayView payload, quint8 flag) {
    Q_ASSERT(payload.size() >= middleHeadLength);
    const QByteArrayView body =
        payload.size() > middleHeadLength ? payload.sliced(middleHeadLength) : QByteArrayView();
    MiddleChunk chunk;
    if (flag != middleFlagChecked) {
        chunk.data = body;
        return chunk;
    }
    chunk.checksumChecked = true;
    if (body.size() >= 4) {
        chunk.data = body.first(body.size() - 4);
        chunk.receivedChecksum = loadLEUInt32(body, body.size() - 4);
    } else {
        chunk.data = body;
    }
    chunk.calculatedChecksum = ProtocolWire::mcAddCRC(chunk.data);
    return chunk;
}

QByteArray buildTransMiddlePayload(QByteArrayView data, quint32 startIndex, quint32 endIndex,
                                   bool needReply) {
    QByteArray payload(data.size() + middleOverhead, Qt::Uninitialized);
    payload[0] = char(needReply ? middleFlagChecked : middleFlagUnchecked);
    storeLEUInt32(payload, startIndexOffset, startIndex);
    storeLEUInt32(payload, endIndexOffset, endIndex);
    if (!data.isEmpty()) {
        std::memcpy(payload.data() + middleHeadLength, data.data(), size_t(data.size()));
    }
    storeLEUInt32(payload, payload.size() - 4, ProtocolWire::mcAddCRC(data));
    return payload;
}

QByteArray buildGeneralReplyPayload(bool success) {
    QByteArray payload(2, '\0');
    payload[0] = char(success ? replyStatusSuccess : replyStatusFailure);
    payload[1] = char(replyMarker);
    return payload;
}

QByteArray buildDeviceQueryRspPayload() {
    QByteArray payload(6, '\0');
    storeLEUInt32(payload, 0, deviceBufferSize);
    return payload;
}

QString transDataTypeName(quint16 dataType) {
    switch (dataType) {
    case dataTypeText:
        return QStringLiteral("text");
    case dataTypeImage:
        return QStringLiteral("image");
    case dataTypeFile:
        return QStringLiteral("file");
    default:
        return QStringLiteral("type(") + QString::number(dataType) + QLatin1Char(')');
    }
}

quint32 loadLEUInt32(QByteArrayView data, qsizetype offset) {
    // Compared by subtraction so that no offset, however large, can overflow the check.
    if (offset < 0 || data.size() < 4 || offset > data.size() - 4) {
        return 0;
    }
    return qFromLittleEndian<quint32>(data.data() + offset);
}

void storeLEUInt32(QByteArray& data, qsizetype offset, quint32 value) {
    if (offset < 0 || data.size() < 4 || offset > data.size() - 4) {
        return;
    }
    qToLittleEndian<quint32>(value, data.data() + offset);
}

} // namespace orvane::TransWire
