#include "protocol/ProtocolWire.h"

#include "protocol/FrameType.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

// The checksum exactly as defined, one byte at a time.
quint32 referenceChecksum(QByteArrayView data) {
    quint32 sum = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const quint8 b = quint8(data[i]);
        sum += b + quint32(i % 32) * (b % 8);
    }
    return sum;
}

QByteArray randomBytes(qsizetype n, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray out(n, Qt::Uninitialized);
    for (auto& c : out) {
        c = char(rng.bounded(256));
    }
    return out;
}

} // namespace

TEST(Checksum, WorkedValues) {
    EXPECT_EQ(PW::mcAddCRC(QByteArray()), 0u);
    EXPECT_EQ(PW::mcAddCRC(QByteArray("abc")), 0x12Eu);
    EXPECT_EQ(PW::mcAddCRC(hex("57AB")), 0x105u);
}

TEST(Checksum, MatchesDefinitionAtEveryLengthAndOffset) {
    // Lengths around the 32-byte lanes and the internal rounds, and continuation from
    // every alignment, so the blocked summation can't drift from the definition.
    const QByteArray data = randomBytes(4096 * 32 * 2 + 77, 1);
    const qsizetype lengths[] = {
        0, 1, 31, 32, 33, 63, 64, 65, 1000, 4096 * 32, 4096 * 32 + 5, data.size()};
    for (qsizetype len : lengths) {
        EXPECT_EQ(PW::mcAddCRC(QByteArrayView(data).first(len)),
                  referenceChecksum(QByteArrayView(data).first(len)))
            << "length " << len;
    }
    const QByteArrayView small = QByteArrayView(data).first(300);
    for (qsizetype split = 0; split <= small.size(); ++split) {
        const quint32 head = PW::mcAddCRC(small.first(split));
        EXPECT_EQ(PW::mcAddCRCUpdate(head, small.sliced(split), quint64(split)),
                  referenceChecksum(small))
            << "split " << split;
    }
}

TEST(Checksum, AllOnesWrapsModulo32Bits) {
    // 0xFF bytes weigh up to 255 + 31 * 7 each; enough of them wrap the sum.
    const QByteArray ff(20'000'000, char(0xFF));
    EXPECT_EQ(PW::mcAddCRC(ff), referenceChecksum(ff));
}

TEST(Checksum, FileVariant) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("payload.bin");
    // Longer than one 256 KiB read, and not a multiple of it.
    const QByteArray data = randomBytes(0x40000 * 2 + 1234, 7);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(data), data.size());
    }
    EXPECT_EQ(PW::mcAddCRC(path, data.size()).value(), PW::mcAddCRC(data));
    EXPECT_EQ(PW::mcAddCRC(path, 0x40000 + 3).value(),
              PW::mcAddCRC(QByteArrayView(data).first(0x40000 + 3)));
    EXPECT_EQ(PW::mcAddCRC(path, 5).value(), PW::mcAddCRC(QByteArrayView(data).first(5)));
    // Asking for more than the file holds yields the checksum of the whole file.
    EXPECT_EQ(PW::mcAddCRC(path, data.size() * 4).value(), PW::mcAddCRC(data));
    EXPECT_EQ(PW::mcAddCRC(path, 0).value(), 0u);
    EXPECT_EQ(PW::mcAddCRC(path, -9).value(), 0u);

    const auto missing = PW::mcAddCRC(dir.filePath("absent"), 10);
    ASSERT_FALSE(missing.ok());
    EXPECT_FALSE(missing.error().isEmpty());
    // Nothing is opened when nothing is wanted, so a missing file is no error then.
    EXPECT_TRUE(PW::mcAddCRC(dir.filePath("absent"), 0).ok());
}

TEST(Frame, EmptyPayloadGolden) {
    const QByteArray frame = PW::buildPacket(0x03, 0x0014, 0x01020304, {});
    ASSERT_EQ(frame.size(), 21);
    const QByteArray header = hex("57AB03"
                                  "04030201"
                                  "06000000"
                                  "1400"
                                  "00000000");
    EXPECT_EQ(frame.first(17), header);
    const quint32 sum = PW::mcAddCRC(header);
    EXPECT_EQ(frame.sliced(17), QByteArray::fromRawData(reinterpret_cast<const char*>(&sum), 4));

    const auto decoded = PW::validateFrameDetailed(frame);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->header, (WireHeader{0x03, 0x01020304, 6, 0x0014, 0}));
    EXPECT_TRUE(decoded->payload.isEmpty());
}

TEST(Frame, RoundTripAndTrailingBytesIgnored) {
    const QByteArray payload = randomBytes(1000, 3);
    QByteArray frame = PW::buildPacket(0x06, FrameType::MIDDLE_PACKET, 77, payload);
    ASSERT_EQ(frame.size(), 1021);
    frame.append("trailing junk");
    const auto decoded = PW::validateFrameDetailed(frame);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->payload, payload);
    EXPECT_EQ(decoded->header.totalLen, 1006u);
}

TEST(Frame, ValidationRulesInOrder) {
    // Short input that starts with the sync pair is bad sync, not too short.
    QByteArray sixteen = hex("57AB");
    sixteen.resize(16, '\0');
    const auto shortResult = PW::validateFrameDetailed(sixteen);
    ASSERT_FALSE(shortResult.ok());
    EXPECT_EQ(shortResult.error().description(), "bad sync (expected 57 AB)");

    QByteArray wrongSync = PW::buildPacket(3, 0x14, 1, "x");
    wrongSync[1] = char(0xAC);
    EXPECT_NE(PW::validateFrameDetailed(wrongSync).error().as<FrameValidationError::BadSync>(),
              nullptr);

    // The largest payload is accepted; one byte more is refused before completeness.
    const QByteArray maxFrame = PW::buildPacket(6, 4, 9, QByteArray(65536, 'a'));
    EXPECT_TRUE(PW::validateFrameDetailed(maxFrame).ok());
    QByteArray tooLarge = maxFrame.first(17);
    tooLarge[13] = char(0x01);
    tooLarge[15] = char(0x01); // len = 65537
    EXPECT_EQ(PW::validateFrameDetailed(tooLarge).error().description(),
              "payload too large (65537 > max 65536)");

    const QByteArray frame = PW::buildPacket(6, 4, 9, "hello");
    EXPECT_EQ(PW::validateFrameDetailed(frame.chopped(1)).error().description(),
              "buffer too short (25 < 26 B)");
}

TEST(Frame, CorruptionNamesTheDamagedFrame) {
    QByteArray frame = PW::buildPacket(0x06, FrameType::FIRST_PACKET, 42, "payload");
    frame[20] = char(frame[20] ^ 0x01);
    const auto result = PW::validateFrameDetailed(frame);
    ASSERT_FALSE(result.ok());
    const auto* crc = result.error().as<FrameValidationError::CrcMismatch>();
    ASSERT_NE(crc, nullptr);
    EXPECT_EQ(crc->received, PW::mcAddCRC(PW::buildPacket(6, 3, 42, "payload").first(24)));
    EXPECT_EQ(result.error().description(),
              QString::asprintf("CRC mismatch calc=0x%08X recv=0x%08X \u00B7 ch=0x06 FIRST_PACKET "
                                "sn=42 payload=7",
                                crc->calc, crc->received));
}

TEST(Frame, StoredTotalLenIsNotChecked) {
    QByteArray frame = PW::buildPacket(3, 0x14, 5, "abc");
    frame[7] = char(0x99);
    // Re-seal so only totalLen differs from what the builder writes.
    const quint32 sum = PW::mcAddCRC(frame.first(20));
    frame.replace(20, 4, QByteArray::fromRawData(reinterpret_cast<const char*>(&sum), 4));
    const auto decoded = PW::validateFrameDetailed(frame);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->header.totalLen, 0x99u);
}

TEST(Frame, TypeNames) {
    EXPECT_EQ(PW::typeName(0x0000), "GENERAL_REPLY");
    EXPECT_EQ(PW::typeName(0x0005), "FINISH_PACKET");
    EXPECT_EQ(PW::typeName(0x0014), "PERIPHERAL_ECHO");
    EXPECT_EQ(PW::typeName(0x0082), "DEVICE_QUERY_RSP");
    EXPECT_EQ(PW::typeName(0x0030), "UNKNOWN(0x0030)");
    EXPECT_EQ(PW::typeName(0xABCD), "UNKNOWN(0xABCD)");
}

TEST(EchoTLV, DecodesAndFormats) {
    const QByteArray payload = hex("1400"
                                   "03000000"
                                   "414200");
    const auto tlv = PW::parseEchoTLV(payload);
    ASSERT_TRUE(tlv.has_value());
    EXPECT_EQ(tlv->length, 3u);
    EXPECT_EQ(PW::formatTLVValue(*tlv), "\"AB\" hex=[41 42 00]");

    EXPECT_EQ(PW::formatTLVValue({0x14, 3, hex("414243")}), "hex=[41 42 43] (3 B)");
    EXPECT_EQ(PW::formatTLVValue({0x14, 2, hex("0041")}), "hex=[00 41] (2 B)");
    EXPECT_EQ(PW::formatTLVValue({0x14, 3, hex("FF4100")}), "hex=[FF 41 00] (3 B)");
    EXPECT_EQ(PW::formatTLVValue({0x14, 2, hex("C300")}), "hex=[C3 00] (2 B)"); // cut sequence
    EXPECT_EQ(PW::formatTLVValue({0x14, 0, {}}), "<empty>");
    EXPECT_EQ(PW::formatTLVValue({0x14, 4, hex("E4B8AD00")}), "\"\u4E2D\" hex=[E4 B8 AD 00]");
}

TEST(EchoTLV, RefusalsAndTheirReasons) {
    const QByteArray extra = hex("1400"
                                 "03000000"
                                 "41420000");
    EXPECT_FALSE(PW::parseEchoTLV(extra));
    EXPECT_EQ(PW::echoTLVParseFailureReason(extra), "payload=10 B != tlv wire 9 B (length=3)");

    const QByteArray zeroLength = hex("1400"
                                      "00000000");
    EXPECT_FALSE(PW::parseEchoTLV(zeroLength));
    EXPECT_EQ(PW::echoTLVParseFailureReason(zeroLength), "tlv.length=0");

    EXPECT_EQ(PW::echoTLVParseFailureReason(hex("14000100")), "payload too short (4 < 6)");
    EXPECT_EQ(PW::echoTLVParseFailureReason(hex("1500"
                                                "01000000"
                                                "41")),
              "tlv.type=0x0015 expected 0x0014");
    QByteArray tooLong = hex("1400"
                             "29000000");
    tooLong.append(QByteArray(41, 'x'));
    EXPECT_FALSE(PW::parseEchoTLV(tooLong));
    EXPECT_EQ(PW::echoTLVParseFailureReason(tooLong), "tlv.length=41 > max 40");

    QByteArray longest = hex("1400"
                             "28000000");
    longest.append(QByteArray(40, 'x'));
    EXPECT_TRUE(PW::parseEchoTLV(longest));
    EXPECT_EQ(PW::echoTLVParseFailureReason(longest), "unknown");
    // A huge length field must not overflow the size comparison.
    EXPECT_EQ(PW::echoTLVParseFailureReason(hex("1400"
                                                "FFFFFFFF"
                                                "41")),
              "tlv.length=4294967295 > max 40");
}

TEST(HexFormat, CompactAndTruncated) {
    EXPECT_EQ(PW::formatHexCompact({}), "<empty>");
    EXPECT_EQ(PW::formatHexCompact(hex("57AB03")), "57 AB 03");
    EXPECT_EQ(PW::formatHexCompactTruncated({}, 32, 16), "<empty>");

    QByteArray bytes;
    for (int i = 0; i < 33; ++i) {
        bytes.append(char(i));
    }
    EXPECT_EQ(PW::formatHexCompactTruncated(bytes.first(32), 32, 16),
              PW::formatHexCompact(bytes.first(32)));
    EXPECT_EQ(PW::formatHexCompactTruncated(bytes, 32, 16),
              PW::formatHexCompact(bytes.first(16)) + " ... " +
                  PW::formatHexCompact(bytes.last(16)));
}
