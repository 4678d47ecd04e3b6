#include "protocol/TransWire.h"

#include "protocol/ProtocolWire.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>
#include <limits>

using namespace orvane;
using Code = TransError::Code;

namespace {

// Written out independently of ProtocolWire so the golden bytes below do not merely
// agree with themselves.
quint32 referenceChecksum(const QByteArray& bytes, qsizetype count) {
    quint32 sum = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const quint8 b = quint8(bytes[i]);
        sum += b + quint32(i % 32) * (b % 8);
    }
    return sum;
}

QByteArray le32(quint32 v) {
    QByteArray out(4, '\0');
    TransWire::storeLEUInt32(out, 0, v);
    return out;
}

void putU16(QByteArray& bytes, qsizetype offset, quint16 v) {
    bytes[offset] = char(v & 0xFF);
    bytes[offset + 1] = char(v >> 8);
}

// Rewrites the head checksum so that only the field under test is wrong.
void resealHeader(QByteArray& header, qsizetype coveredBytes = 48) {
    TransWire::storeLEUInt32(header, 48, referenceChecksum(header, coveredBytes));
}

QByteArray headerWithNameBytes(const QByteArray& nameField) {
    QByteArray header = TransWire::buildTransHeader(2, "x", QString());
    header.replace(4, nameField.size(), nameField);
    resealHeader(header);
    return header;
}

QString parsedName(const QByteArray& header) {
    auto parsed = TransWire::validateTransHeaderWire(header);
    EXPECT_TRUE(parsed.ok());
    return parsed.ok() ? parsed->fileName : QStringLiteral("<failed>");
}

} // namespace

TEST(TransWire, TextHeaderForAbcMatchesGoldenBytes) {
    EXPECT_EQ(ProtocolWire::mcAddCRC("abc"), 0x12Eu);

    const QByteArray header = TransWire::buildTransHeader(0, "abc", QString());
    QByteArray expected = QByteArray::fromHex("3400"
                                              "0000") +
                          QByteArray(30, '\0') +
                          QByteArray::fromHex("BF00"
                                              "1100"
                                              "0000"
                                              "37000000"
                                              "2E010000");
    ASSERT_EQ(expected.size(), 48);
    expected += le32(referenceChecksum(expected, 48));
    EXPECT_EQ(header.toHex(' '), expected.toHex(' '));
}

TEST(TransWire, HeaderFieldsFollowTheDataType) {
    const QByteArray image = TransWire::buildTransHeader(1, "img", QStringLiteral("ignored.png"));
    EXPECT_EQ(image.mid(36, 2), QByteArray::fromHex("1200"));
    EXPECT_EQ(image.mid(4, 30), QByteArray(30, '\0')) << "only files carry a name";

    const QByteArray file = TransWire::buildTransHeader(2, "data", QStringLiteral("a.txt"));
    EXPECT_EQ(file.mid(2, 2), QByteArray::fromHex("0200"));
    EXPECT_EQ(file.mid(36, 2), QByteArray::fromHex("1300"));
    EXPECT_EQ(file.mid(4, 6), QByteArray("a.txt\0", 6));

    const QByteArray other = TransWire::buildTransHeader(7, "data", QStringLiteral("a.txt"));
    EXPECT_EQ(other.mid(36, 2), QByteArray::fromHex("1100"));
    EXPECT_EQ(other.mid(4, 30), QByteArray(30, '\0'));

    const QByteArray empty = TransWire::buildTransHeader(0, {}, QString());
    EXPECT_EQ(TransWire::loadLEUInt32(empty, 40), 52u);
    EXPECT_EQ(TransWire::loadLEUInt32(empty, 44), 0u);
}

TEST(TransWire, BuiltHeadersRoundTripThroughValidation) {
    const QByteArray payloads[] = {QByteArray(), QByteArray("abc"), QByteArray(70000, '\xA5')};
    for (const QByteArray& payload : payloads) {
        for (quint16 type : {0, 1, 2, 9}) {
            const QByteArray wire = TransWire::buildTransHeader(type, payload, "notes.md");
            auto header = TransWire::validateTransHeaderWire(wire);
            ASSERT_TRUE(header.ok()) << type << " " << payload.size();
            EXPECT_EQ(header->headerLength, 52);
            EXPECT_EQ(header->dataType, type);
            EXPECT_EQ(header->fileName, type == 2 ? QStringLiteral("notes.md") : QString());
            EXPECT_EQ(header->productID, 0x00BF);
            EXPECT_EQ(header->appVer, 0);
            EXPECT_EQ(header->announcedPayloadSize(), payload.size());
            EXPECT_EQ(header->mcAddChecksum, referenceChecksum(payload, payload.size()));
            EXPECT_EQ(header->headChecksum, referenceChecksum(wire, 48));
        }
    }
}

TEST(TransWire, FileNamesAreCutAt29BytesAndDecodedStrictly) {
    const QString longName = QString(40, QLatin1Char('n'));
    const QByteArray cut = TransWire::buildTransHeader(2, "x", longName);
    EXPECT_EQ(cut.at(33), '\0');
    EXPECT_EQ(parsedName(cut), longName.left(29));

    // 29 bytes that end exactly on a character boundary survive.
    const QString fits = QStringLiteral("a") + QString(14, QChar(0x00E9));
    EXPECT_EQ(parsedName(TransWire::buildTransHeader(2, "x", fits)), fits);

    // Ten three-byte characters: the 29-byte cut splits the last one, which the receiving
    // side must not turn into a partial name.
    const QString cjk = QString(10, QChar(0x4E2D));
    const QByteArray split = TransWire::buildTransHeader(2, "x", cjk);
    EXPECT_EQ(split.mid(4, 29), cjk.toUtf8().left(29));
    EXPECT_EQ(parsedName(split), QString());

    EXPECT_EQ(parsedName(TransWire::buildTransHeader(2, "x", QStringLiteral("  report.txt \n"))),
              QStringLiteral("report.txt"));
}

TEST(TransWire, ReceivedFileNameFieldEdgeCases) {
    // A peer may fill all 30 bytes without a terminator.
    EXPECT_EQ(parsedName(headerWithNameBytes(QByteArray(30, 'z'))), QString(30, QLatin1Char('z')));
    // Bytes after the first 0x00 are not part of the name.
    EXPECT_EQ(parsedName(headerWithNameBytes(QByteArray("ab\0\xFF\xFE", 5))), QStringLiteral("ab"));
    EXPECT_EQ(parsedName(headerWithNameBytes("\xFF"
                                             "abc")),
              QString());
    EXPECT_EQ(parsedName(headerWithNameBytes("\xC0\xAF"
                                             "abc")),
              QString())
        << "overlong";
    EXPECT_EQ(parsedName(headerWithNameBytes("\xED\xA0\x80")), QString()) << "surrogate";
    EXPECT_EQ(parsedName(headerWithNameBytes(" \t\r\n")), QString());
}

TEST(TransWire, ParseNeedsFullHeaderAndIgnoresTrailingBytes) {
    const QByteArray wire = TransWire::buildTransHeader(2, "abc", QStringLiteral("f"));
    for (qsizetype n = 0; n < 52; ++n) {
        auto parsed = TransWire::parseTransHeader(wire.first(n));
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error().code(), Code::headerTooShort);
        EXPECT_EQ(TransWire::validateTransHeaderWire(wire.first(n)).error().code(),
                  Code::headerTooShort);
    }
    auto longer = TransWire::validateTransHeaderWire(wire + QByteArray(10, '\x7F'));
    ASSERT_TRUE(longer.ok());
    EXPECT_EQ(longer.value(), TransWire::parseTransHeader(wire).value());
}

TEST(TransWire, ValidationRefusesHeaderLengthOutsideItsBounds) {
    for (quint16 length : {0, 1, 3, 53, 0xFFFF}) {
        QByteArray header = TransWire::buildTransHeader(0, "abc", QString());
        putU16(header, 0, length);
        resealHeader(header);
        auto result = TransWire::validateTransHeaderWire(header + QByteArray(100, '\0'));
        ASSERT_FALSE(result.ok()) << length;
        EXPECT_EQ(result.error().code(), Code::invalidHeaderLength) << length;
    }
}

TEST(TransWire, ShorterHeaderLengthNarrowsTheChecksumRange) {
    QByteArray header = TransWire::buildTransHeader(0, "abc", QString());
    putU16(header, 0, 40);
    resealHeader(header, 36);
    header[37] = '\x55'; // outside the covered range: does not matter
    auto result = TransWire::validateTransHeaderWire(header);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->announcedPayloadSize(), 55 - 40);

    // The smallest allowed length covers nothing, so its checksum is 0.
    putU16(header, 0, 4);
    TransWire::storeLEUInt32(header, 48, 0);
    EXPECT_TRUE(TransWire::validateTransHeaderWire(header).ok());
}

TEST(TransWire, ValidationChecksChecksumBeforeTotalSize) {
    QByteArray header = TransWire::buildTransHeader(0, "abc", QString());
    const quint32 good = referenceChecksum(header, 48);

    header[10] = 'q';
    auto mismatch = TransWire::validateTransHeaderWire(header);
    ASSERT_FALSE(mismatch.ok());
    EXPECT_EQ(mismatch.error(),
              TransError::headChecksumMismatch(referenceChecksum(header, 48), good));

    header = TransWire::buildTransHeader(0, "abc", QString());
    TransWire::storeLEUInt32(header, 40, 40);
    EXPECT_EQ(TransWire::validateTransHeaderWire(header).error().code(),
              Code::headChecksumMismatch);
    resealHeader(header);
    EXPECT_EQ(TransWire::validateTransHeaderWire(header).error().code(), Code::totalSizeTooSmall);

    TransWire::storeLEUInt32(header, 40, 52);
    resealHeader(header);
    auto exact = TransWire::validateTransHeaderWire(header);
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ(exact->announcedPayloadSize(), 0);
}

TEST(TransWire, FirstTransReqReadsOnlyTheFirst53Bytes) {
    const QByteArray header = TransWire::buildTransHeader(2, "hello", QStringLiteral("h.txt"));
    const QByteArray payload = TransWire::buildFirstTransReqPayload(header);
    ASSERT_EQ(payload.size(), 105);
    EXPECT_EQ(payload.at(0), '\x01');
    EXPECT_EQ(payload.mid(53), header);

    auto req = TransWire::parseFirstTransReq(payload);
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->needResponse, 1);
    EXPECT_EQ(req->header, TransWire::validateTransHeaderWire(header).value());

    QByteArray damagedCopy = payload;
    damagedCopy[60] = '\xEE';
    EXPECT_TRUE(TransWire::parseFirstTransReq(damagedCopy).ok());

    EXPECT_EQ(TransWire::parseFirstTransReq(payload.first(52)).error().code(),
              Code::firstReqTooShort);
    auto exact = TransWire::parseFirstTransReq(QByteArray(1, '\0') + header);
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ(exact->needResponse, 0);

    QByteArray damagedHeader = payload;
    damagedHeader[1] = '\x35'; // headerLength 53
    EXPECT_EQ(TransWire::parseFirstTransReq(damagedHeader).error().code(),
              Code::invalidHeaderLength);
}

TEST(TransWire, MiddlePayloadGoldenBytesAndHead) {
    EXPECT_EQ(TransWire::buildTransMiddlePayload("abc", 0, 2, true).toHex(),
              QByteArray("02"
                         "00000000"
                         "02000000"
                         "616263"
                         "2e010000"));
    // Indices are written as given, and the checksum is appended whatever the flag.
    const QByteArray unchecked = TransWire::buildTransMiddlePayload("abc", 0x12345678, 7, false);
    EXPECT_EQ(unchecked.toHex(), QByteArray("00"
                                            "78563412"
                                            "07000000"
                                            "616263"
                                            "2e010000"));
    EXPECT_EQ(TransWire::buildTransMiddlePayload({}, 0, 0, true).size(), 13);

    auto head = TransWire::parseCommPacketHead(unchecked);
    ASSERT_TRUE(head.ok());
    EXPECT_EQ(head.value(), (CommPacketHead{0x00, 0x12345678, 7}));
    EXPECT_TRUE(TransWire::parseCommPacketHead(unchecked.first(9)).ok());
    EXPECT_EQ(TransWire::parseCommPacketHead(unchecked.first(8)).error().code(),
              Code::middleHeadTooShort);
}

TEST(TransWire, MiddleChunkSplitFollowsTheFlag) {
    const QByteArray head = QByteArray::fromHex("02"
                                                "00000000"
                                                "01000000");

    const MiddleChunk empty = TransWire::splitMiddleChunk(head, 0x02);
    EXPECT_TRUE(empty.data.isEmpty());
    EXPECT_TRUE(empty.checksumChecked);
    EXPECT_TRUE(empty.checksumOk()) << "the checksum of nothing is 0";

    const QByteArray twoBytes = head + "hi";
    const MiddleChunk shortBody = TransWire::splitMiddleChunk(twoBytes, 0x02);
    EXPECT_EQ(shortBody.data, QByteArrayView("hi"));
    EXPECT_EQ(shortBody.receivedChecksum, 0u);
    EXPECT_FALSE(shortBody.checksumOk());

    QByteArray built = TransWire::buildTransMiddlePayload("chunk data", 5, 14, true);
    const MiddleChunk good = TransWire::splitMiddleChunk(built, 0x02);
    EXPECT_EQ(good.data, QByteArrayView("chunk data"));
    EXPECT_TRUE(good.checksumOk());

    built[12] = 'X';
    const MiddleChunk bad = TransWire::splitMiddleChunk(built, 0x02);
    EXPECT_FALSE(bad.checksumOk());
    EXPECT_EQ(bad.calculatedChecksum, referenceChecksum(bad.data.toByteArray(), bad.data.size()));
    EXPECT_EQ(bad.receivedChecksum, ProtocolWire::mcAddCRC("chunk data"));

    // Without flag 0x02 the trailing four bytes are data and nothing is tested.
    const MiddleChunk unchecked = TransWire::splitMiddleChunk(built, 0x00);
    EXPECT_EQ(unchecked.data.size(), 14);
    EXPECT_FALSE(unchecked.checksumChecked);
    EXPECT_TRUE(unchecked.checksumOk());
}

TEST(TransWire, ReplyPayloadsAndNames) {
    EXPECT_EQ(TransWire::buildGeneralReplyPayload(true), QByteArray::fromHex("0003"));
    EXPECT_EQ(TransWire::buildGeneralReplyPayload(false), QByteArray::fromHex("0103"));
    EXPECT_EQ(TransWire::buildDeviceQueryRspPayload(), QByteArray::fromHex("402800000000"));

    EXPECT_EQ(TransWire::transDataTypeName(0), QStringLiteral("text"));
    EXPECT_EQ(TransWire::transDataTypeName(1), QStringLiteral("image"));
    EXPECT_EQ(TransWire::transDataTypeName(2), QStringLiteral("file"));
    EXPECT_EQ(TransWire::transDataTypeName(3), QStringLiteral("type(3)"));
    EXPECT_EQ(TransWire::transDataTypeName(65535), QStringLiteral("type(65535)"));
}

TEST(TransWire, LittleEndianAccessStaysInsideTheBuffer) {
    const QByteArray bytes = QByteArray::fromHex("0102030405");
    EXPECT_EQ(TransWire::loadLEUInt32(bytes, 0), 0x04030201u);
    EXPECT_EQ(TransWire::loadLEUInt32(bytes, 1), 0x05040302u);
    constexpr qsizetype huge = std::numeric_limits<qsizetype>::max();
    constexpr qsizetype lowest = std::numeric_limits<qsizetype>::min();
    for (qsizetype offset : {qsizetype(2), qsizetype(5), qsizetype(-1), huge, lowest}) {
        EXPECT_EQ(TransWire::loadLEUInt32(bytes, offset), 0u) << offset;
    }
    EXPECT_EQ(TransWire::loadLEUInt32(QByteArrayView(), 0), 0u);
    EXPECT_EQ(TransWire::loadLEUInt32(bytes.first(3), 0), 0u);

    QByteArray target(6, '\0');
    TransWire::storeLEUInt32(target, 2, 0xA1B2C3D4);
    EXPECT_EQ(target.toHex(), QByteArray("0000d4c3b2a1"));
    for (qsizetype offset : {qsizetype(3), qsizetype(-1), huge, lowest}) {
        TransWire::storeLEUInt32(target, offset, 0xFFFFFFFF);
    }
    EXPECT_EQ(target.toHex(), QByteArray("0000d4c3b2a1"));
    QByteArray tiny(2, '\0');
    TransWire::storeLEUInt32(tiny, 0, 1);
    EXPECT_EQ(tiny, QByteArray(2, '\0'));
}

TEST(TransError, DescriptionsAreTheUserFacingTexts) {
    EXPECT_EQ(TransError::transferFailed(QStringLiteral("rsp_code=2")).errorDescription(),
              QStringLiteral("传输失败: rsp_code=2"));
    EXPECT_EQ(TransError::fileNotFound(QStringLiteral("/tmp/a")).errorDescription(),
              QStringLiteral("文件不存在: /tmp/a"));
    EXPECT_EQ(TransError::headChecksumMismatch(1, 2).errorDescription(),
              QStringLiteral("TRANS 协议错误"));
    const std::pair<Code, const char16_t*> fixed[] = {
        {Code::headerTooShort, u"TRANS 协议错误"},
        {Code::invalidHeaderLength, u"TRANS 协议错误"},
        {Code::totalSizeTooSmall, u"TRANS 协议错误"},
        {Code::firstReqTooShort, u"TRANS 协议错误"},
        {Code::middleHeadTooShort, u"TRANS 协议错误"},
        {Code::sendBusy, u"另一个剪贴板传输正在进行中"},
        {Code::serialClosed, u"串口未连接"},
        {Code::transferTimeout, u"传输超时"},
        {Code::transferTooLarge, u"传输内容超过允许大小"},
        {Code::emptyPayload, u"空内容"},
        {Code::filePathMissing, u"文件路径缺失"},
    };
    for (const auto& [code, text] : fixed) {
        EXPECT_EQ(TransError(code).errorDescription(), QString::fromUtf16(text));
    }
}
