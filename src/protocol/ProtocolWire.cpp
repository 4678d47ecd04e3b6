#include "protocol/ProtocolWire.h"

#include "common/Utf8.h"
#include "protocol/FrameCheck.h"
#include "protocol/FrameType.h"

#include <QFile>

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace orvane::ProtocolWire {

namespace {

const uchar* bytes(QByteArrayView data) {
    return reinterpret_cast<const uchar*>(data.data());
}

quint16 le16(const uchar* p) {
    return quint16(p[0] | (p[1] << 8));
}

quint32 le32(const uchar* p) {
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

void appendLE(QByteArray& out, quint32 value, int size) {
    for (int i = 0; i < size; ++i) {
        out.append(char((value >> (8 * i)) & 0xFF));
    }
}

// Byte b at position i contributes b + (i mod 32) * (b mod 8). Over whole 32-byte
// blocks the weight depends only on the position inside the block, so the blocks
// are summed lane by lane and the weights applied once at the end; on processors with
// AVX2 a whole block is one register. Everything wraps modulo 2^32, so the reordering
// is exact.
constexpr qsizetype kBlock = 32;
constexpr qsizetype kBlocksPerRound = 4096; // lanes stay small; wrapping would be harmless anyway

quint32 sumBlocksPortable(const uchar* p, qsizetype blocks) {
    std::array<quint32, kBlock> plain{};
    std::array<quint32, kBlock> low3{};
    for (qsizetype blk = 0; blk < blocks; ++blk, p += kBlock) {
        for (qsizetype j = 0; j < kBlock; ++j) {
            plain[j] += p[j];
            low3[j] += p[j] & 7u;
        }
    }
    quint32 sum = 0;
    for (qsizetype j = 0; j < kBlock; ++j) {
        sum += plain[j] + quint32(j) * low3[j];
    }
    return sum;
}

#if defined(__x86_64__)
// One 32-byte block per AVX2 register: the plain byte sum through SAD against zero, the
// weighted part by multiplying (b mod 8) with the lane positions 0..31 byte-wise
// (at most 7 * 31 per byte, 434 per pair of bytes, so the 16-bit products cannot
// overflow) and widening pairs of those into 32-bit lanes. A round of kBlocksPerRound
// blocks adds at most 868 * 4096 to a 32-bit lane.
__attribute__((target("avx2"))) quint32 sumBlocksAvx2(const uchar* p, qsizetype blocks) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i mask7 = _mm256_set1_epi8(7);
    const __m256i ones16 = _mm256_set1_epi16(1);
    const __m256i weights =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    __m256i plain = zero;    // four 64-bit lanes
    __m256i weighted = zero; // eight 32-bit lanes
    for (qsizetype blk = 0; blk < blocks; ++blk, p += kBlock) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        plain = _mm256_add_epi64(plain, _mm256_sad_epu8(v, zero));
        const __m256i products = _mm256_maddubs_epi16(_mm256_and_si256(v, mask7), weights);
        weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(products, ones16));
    }
    alignas(32) std::array<quint64, 4> plainLanes{};
    alignas(32) std::array<quint32, 8> weightedLanes{};
    _mm256_store_si256(reinterpret_cast<__m256i*>(plainLanes.data()), plain);
    _mm256_store_si256(reinterpret_cast<__m256i*>(weightedLanes.data()), weighted);
    quint32 sum = 0;
    for (const quint64 lane : plainLanes) {
        sum += quint32(lane);
    }
    for (const quint32 lane : weightedLanes) {
        sum += lane;
    }
    return sum;
}
#endif

using SumBlocksFn = quint32 (*)(const uchar*, qsizetype);

SumBlocksFn pickSumBlocks() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        return sumBlocksAvx2;
    }
#endif
    return sumBlocksPortable;
}

quint32 sumBlocks(const uchar* p, qsizetype blocks) {
    static const SumBlocksFn implementation = pickSumBlocks();
    return implementation(p, blocks);
}

} // namespace

quint32 mcAddCRCUpdate(quint32 sum, QByteArrayView data, quint64 offset) {
    const uchar* p = bytes(data);
    qsizetype n = data.size();
    quint32 pos = quint32(offset % kBlock);
    // Leading bytes up to the next block boundary of the overall position.
    while (n > 0 && pos != 0) {
        sum += *p + pos * (*p & 7u);
        ++p;
        --n;
        pos = (pos + 1) % kBlock;
    }
    while (n >= kBlock) {
        const qsizetype blocks = std::min(n / kBlock, kBlocksPerRound);
        sum += sumBlocks(p, blocks);
        p += blocks * kBlock;
        n -= blocks * kBlock;
    }
    for (qsizetype j = 0; j < n; ++j) {
        sum += p[j] + quint32(j) * (p[j] & 7u);
    }
    return sum;
}

quint32 mcAddCRC(QByteArrayView data) {
    return mcAddCRCUpdate(0, data, 0);
}

Result<quint32, QString> mcAddCRC(const QString& path, qint64 byteCount) {
    if (byteCount <= 0) {
        return quint32(0);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(file.errorString());
    }
    constexpr qint64 chunkSize = 0x40000;
    QByteArray chunk(qsizetype(std::min(byteCount, chunkSize)), Qt::Uninitialized);
    quint32 sum = 0;
    qint64 done = 0;
    while (done < byteCount) {
        const qint64 want = std::min(byteCount - done, chunkSize);
        const qint64 got = file.read(chunk.data(), want);
        if (got <= 0) {
            break;
        }
        sum = mcAddCRCUpdate(sum, QByteArrayView(chunk.constData(), got), quint64(done));
        done += got;
        if (got < want) {
            break; // end of file
        }
    }
    return sum;
}

QByteArray buildPacket(quint8 channel, quint16 type, quint32 sn, QByteArrayView payload) {
    const quint32 len = quint32(payload.size());
    QByteArray out;
    out.reserve(payload.size() + frameOverhead);
    out.append(char(0x57));
    out.append(char(0xAB));
    out.append(char(channel));
    appendLE(out, sn, 4);
    appendLE(out, len + 6, 4);
    appendLE(out, type, 2);
    appendLE(out, len, 4);
    out.append(payload);
    appendLE(out, mcAddCRC(out), 4);
    return out;
}

std::optional<WireHeader> parseHeader(QByteArrayView data) {
    if (data.size() < headerLength) {
        return std::nullopt;
    }
    const uchar* p = bytes(data);
    if (p[0] != 0x57 || p[1] != 0xAB) {
        return std::nullopt;
    }
    return WireHeader{p[2], le32(p + 3), le32(p + 7), le16(p + 11), le32(p + 13)};
}

namespace detail {

// Validation without copying the payload; shared with stream extraction.
std::optional<FrameValidationError> checkFrame(QByteArrayView frame, WireHeader& header) {
    const auto parsed = parseHeader(frame);
    if (!parsed) {
        return FrameValidationError::badSync();
    }
    header = *parsed;
    if (header.len > maxPayloadLength) {
        return FrameValidationError::payloadTooLarge(header.len);
    }
    const qint64 want = qint64(header.len) + frameOverhead;
    if (frame.size() < want) {
        return FrameValidationError::bufferTooShort(frame.size(), want);
    }
    const qsizetype checked = qsizetype(header.len) + headerLength;
    const quint32 calc = mcAddCRC(frame.first(checked));
    const quint32 received = le32(bytes(frame) + checked);
    if (calc != received) {
        return FrameValidationError::crcMismatch(calc, received, header);
    }
    return std::nullopt;
}

} // namespace detail

Result<DecodedFrame, FrameValidationError> validateFrameDetailed(QByteArrayView frame) {
    WireHeader header;
    if (auto error = detail::checkFrame(frame, header)) {
        return fail(*error);
    }
    return DecodedFrame{header, frame.sliced(headerLength, header.len).toByteArray()};
}

QString typeName(quint16 type) {
    switch (type) {
    case FrameType::GENERAL_REPLY:
        return QStringLiteral("GENERAL_REPLY");
    case FrameType::START_REQUEST:
        return QStringLiteral("START_REQUEST");
    case FrameType::DEVICE_QUERY:
        return QStringLiteral("DEVICE_QUERY");
    case FrameType::FIRST_PACKET:
        return QStringLiteral("FIRST_PACKET");
    case FrameType::MIDDLE_PACKET:
        return QStringLiteral("MIDDLE_PACKET");
    case FrameType::FINISH_PACKET:
        return QStringLiteral("FINISH_PACKET");
    case FrameType::PERIPHERAL_ECHO:
        return QStringLiteral("PERIPHERAL_ECHO");
    case FrameType::DEVICE_QUERY_RSP:
        return QStringLiteral("DEVICE_QUERY_RSP");
    default:
        return QString::asprintf("UNKNOWN(0x%04X)", unsigned(type));
    }
}

std::optional<PeripheralTLV> parseEchoTLV(QByteArrayView payload) {
    if (payload.size() < 7) {
        return std::nullopt;
    }
    const uchar* p = bytes(payload);
    const quint16 type = le16(p);
    const quint32 length = le32(p + 2);
    if (type != FrameType::PERIPHERAL_ECHO || length == 0 || length > echoTLVMaxLength) {
        return std::nullopt;
    }
    if (payload.size() != qsizetype(length) + 6) {
        return std::nullopt;
    }
    return PeripheralTLV{type, length, payload.sliced(6, length).toByteArray()};
}

QString echoTLVParseFailureReason(QByteArrayView payload) {
    if (payload.size() < 6) {
        return QStringLiteral("payload too short (%1 < 6)").arg(payload.size());
    }
    const uchar* p = bytes(payload);
    const quint16 type = le16(p);
    const quint32 length = le32(p + 2);
    if (type != FrameType::PERIPHERAL_ECHO) {
        return QString::asprintf("tlv.type=0x%04X expected 0x%04X", unsigned(type),
                                 unsigned(FrameType::PERIPHERAL_ECHO));
    }
    if (length == 0) {
        return QStringLiteral("tlv.length=0");
    }
    if (length > echoTLVMaxLength) {
        return QStringLiteral("tlv.length=%1 > max %2").arg(length).arg(echoTLVMaxLength);
    }
    const qint64 wire = qint64(length) + 6;
    if (payload.size() != wire) {
        return QStringLiteral("payload=%1 B != tlv wire %2 B (length=%3)")
            .arg(payload.size())
            .arg(wire)
            .arg(length);
    }
    return QStringLiteral("unknown");
}

QString formatTLVValue(const PeripheralTLV& tlv) {
    const QByteArray& value = tlv.value;
    if (value.isEmpty()) {
        return QStringLiteral("<empty>");
    }
    const QString hex = formatHexCompact(value);
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0) {
        const auto text = decodeUtf8Strict(QByteArrayView(value).first(nul));
        if (text && !text->isEmpty()) {
            return QLatin1Char('"') + *text + QStringLiteral("\" hex=[") + hex + QLatin1Char(']');
        }
    }
    return QStringLiteral("hex=[%1] (%2 B)").arg(hex).arg(value.size());
}

QString formatHexCompact(QByteArrayView data) {
    if (data.isEmpty()) {
        return QStringLiteral("<empty>");
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    QString out(data.size() * 3 - 1, Qt::Uninitialized);
    QChar* o = out.data();
    const uchar* p = bytes(data);
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i > 0) {
            *o++ = QLatin1Char(' ');
        }
        *o++ = QLatin1Char(digits[p[i] >> 4]);
        *o++ = QLatin1Char(digits[p[i] & 0xF]);
    }
    return out;
}

QString formatHexCompactTruncated(QByteArrayView data, qsizetype maxBytes, qsizetype edgeBytes) {
    if (data.isEmpty()) {
        return QStringLiteral("<empty>");
    }
    if (data.size() <= maxBytes) {
        return formatHexCompact(data);
    }
    const qsizetype edge = std::clamp<qsizetype>(edgeBytes, 0, data.size());
    return formatHexCompact(data.first(edge)) + QStringLiteral(" ... ") +
           formatHexCompact(data.last(edge));
}

} // namespace orvane::ProtocolWire
