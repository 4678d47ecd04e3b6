#pragma once

#include "common/Result.h"
#include "protocol/DecodedFrame.h"
#include "protocol/FrameIssue.h"
#include "protocol/FrameValidationError.h"
#include "protocol/PeripheralTLV.h"
#include "protocol/WireHeader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace orvane {

// The frame codec shared by the serial and BLE links. Pure functions without state:
// every function may be called from any thread. Frame layout: see WireHeader.
namespace ProtocolWire {

inline constexpr qsizetype headerLength = 17;
inline constexpr qsizetype frameOverhead = 21; // header plus the 4-byte checksum
inline constexpr quint32 maxPayloadLength = 65536;
inline constexpr quint32 echoTLVMaxLength = 40;

// The frame checksum. Despite the name it is additive, not a CRC: for byte b at
// position i, sum += b + (i mod 32) * (b mod 8), wrapping modulo 2^32.
quint32 mcAddCRC(QByteArrayView data);

// Continues a checksum: `sum` is the checksum of the `offset` bytes before `data`.
// mcAddCRCUpdate(mcAddCRC(a), b, a.size()) == mcAddCRC(a + b).
quint32 mcAddCRCUpdate(quint32 sum, QByteArrayView data, quint64 offset);

// Checksum of the first `byteCount` bytes of the file at `path` (the whole file when it
// is shorter; 0 without opening anything when byteCount <= 0). Fails with the system's
// text when the file cannot be opened.
Result<quint32, QString> mcAddCRC(const QString& path, qint64 byteCount);

// The complete frame: sync, header with totalLen = payload + 6, payload, checksum.
// Does not enforce the payload limit; senders keep payloads within it.
QByteArray buildPacket(quint8 channel, quint16 type, quint32 sn, QByteArrayView payload);

// The header, when at least 17 bytes are present and they begin with 57 AB.
std::optional<WireHeader> parseHeader(QByteArrayView data);

// Validates one candidate frame (bytes beyond len + 21 are ignored). Checks, in order:
// sync and header length, payload limit, completeness, checksum.
Result<DecodedFrame, FrameValidationError> validateFrameDetailed(QByteArrayView frame);

// "GENERAL_REPLY", "PERIPHERAL_ECHO", ... or "UNKNOWN(0x0030)".
QString typeName(quint16 type);

std::optional<PeripheralTLV> parseEchoTLV(QByteArrayView payload);
QString echoTLVParseFailureReason(QByteArrayView payload);
QString formatTLVValue(const PeripheralTLV& tlv);

QString formatHexCompact(QByteArrayView data);
QString formatHexCompactTruncated(QByteArrayView data, qsizetype maxBytes, qsizetype edgeBytes);

// Cuts the first complete, valid frame out of a receive buffer.
//
// On return the bytes dealt with have been removed from the front of `buffer` (the
// frame and everything before it, or noise that cannot start a frame), and every
// problem met has been appended to `issues`. Returns the frame's bytes, or nothing
// when no complete frame is there yet. Keeps no state between calls; one call
// returns at most one frame, so callers loop. The last 16 bytes are never dropped
// for want of a frame, since they may start a header that has not fully arrived.
//
// A candidate whose announced length does not fit yet stops the scan, even when it
// is noise that looks like a header; bounding the buffer is the caller's duty.
std::optional<QByteArray> extractFrame(QByteArray& buffer, QList<FrameIssue>& issues);

} // namespace ProtocolWire
} // namespace orvane
