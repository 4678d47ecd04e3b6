#include "protocol/FrameCheck.h"
#include "protocol/ProtocolWire.h"

#include <cstring>

namespace orvane::ProtocolWire {

namespace {

constexpr qsizetype kBadLengthExcerpt = 32;

quint32 le32(const uchar* p) {
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

} // namespace

// Cost: the scan reads each byte at most once (memchr between candidates), a valid
// frame is copied once into the result, and consumed bytes leave the front of the
// buffer without moving the rest (QByteArray keeps the freed space at its front).
// Only rejected candidates are copied, into their issues.
std::optional<QByteArray> extractFrame(QByteArray& buffer, QList<FrameIssue>& issues) {
    const qsizetype n = buffer.size();
    if (n < headerLength) {
        return std::nullopt;
    }
    const char* base = buffer.constData();
    const auto* b = reinterpret_cast<const uchar*>(base);
    const qsizetype lastStart = n - headerLength; // the last position with a full header after it

    qsizetype p = 0;
    while (p <= lastStart) {
        const void* hit = std::memchr(b + p, 0x57, size_t(lastStart - p + 1));
        if (hit == nullptr) {
            break;
        }
        p = static_cast<const uchar*>(hit) - b;
        if (b[p + 1] != 0xAB) {
            ++p;
            continue;
        }
        const quint32 len = le32(b + p + 13);
        if (len > maxPayloadLength) {
            issues.append({QStringLiteral("非法 payload 长度 %1 @ offset %2").arg(len).arg(p),
                           QByteArray(base + p, std::min(n, p + kBadLengthExcerpt) - p)});
            ++p;
            continue;
        }
        const qsizetype frameLength = qsizetype(len) + frameOverhead;
        if (n - p < frameLength) {
            // Incomplete frame at p: keep it and wait for more bytes.
            if (p > 0) {
                issues.append({QStringLiteral("丢弃 %1 字节（未找到完整帧，等待更多数据）").arg(p),
                               QByteArray(base, p)});
                buffer.remove(0, p);
            }
            return std::nullopt;
        }
        const QByteArrayView candidate(base + p, frameLength);
        WireHeader header;
        if (auto error = detail::checkFrame(candidate, header)) {
            issues.append(
                {QStringLiteral("帧校验失败 @ offset %1: %2").arg(p).arg(error->description()),
                 candidate.toByteArray()});
            ++p;
            continue;
        }
        QByteArray frame = candidate.toByteArray();
        buffer.remove(0, p + frameLength);
        return frame;
    }

    // No position left with a whole header after it: everything but the last 16
    // bytes is noise; those 16 may be the start of a header still arriving.
    const qsizetype dropped = n - (headerLength - 1);
    issues.append(
        {QStringLiteral("丢弃 %1 字节（扫描后无有效帧）").arg(dropped), QByteArray(base, dropped)});
    buffer.remove(0, dropped);
    return std::nullopt;
}

} // namespace orvane::ProtocolWire
