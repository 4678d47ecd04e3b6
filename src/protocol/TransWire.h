#pragma once

#include "common/Result.h"
#include "protocol/CommPacketHead.h"
#include "protocol/FirstTransReq.h"
#include "protocol/MiddleChunk.h"
#include "protocol/TransError.h"
#include "protocol/TransHeader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

namespace orvane {

// Builders and parsers for the TRANS packets: the transfer protocol that moves one
// clipboard item (a text, an image or one file) between this computer and the device.
// Stateless; every function may be called from any thread. Nothing here throws, and no
// input, however malformed, makes a parser read outside the buffer it was given.
//
// Every TRANS packet is the payload of a frame on channel 0x06 (FrameChannel::trans); the
// frame type (FrameType) says which packet it is. All integers are little-endian. One
// transfer runs, in order, with every step answered before the next is sent:
//
//   START_REQUEST (0x0001)     empty when sent from here; its content is ignored on receipt.
//                              Answered with GENERAL_REPLY.
//
//   DEVICE_QUERY (0x0002)      empty when sent from here; ignored on receipt.
//                              Answered with DEVICE_QUERY_RSP.
//
//   DEVICE_QUERY_RSP (0x0082)  at least 4 bytes; bytes 0..3 are a u32, the peer's buffer
//                              size, from which a sender derives its chunk size. This
//                              system answers 40 28 00 00 00 00 (0x2840 = 10304, which
//                              leaves exactly 10240 chunk bytes after 64 bytes of margin).
//
//   FIRST_PACKET (0x0003)      offset size
//                                   0    1 needResponse (0x01 when sent from here)
//                                   1   52 the transfer header (TransHeader.h)
//                                  53  any ignored on receipt; this system's sender repeats
//                                          the 52 header bytes, giving 105 bytes in all
//                              Answered with GENERAL_REPLY.
//
//   MIDDLE_PACKET (0x0004)     offset size
//                                   0    1 flag: 0x02 when the sender wants a reply and has
//                                          appended a chunk checksum, 0x00 otherwise
//                                   1    4 startIndex: payload offset of the chunk's first byte
//                                   5    4 endIndex: payload offset of its last byte, inclusive
//                                   9    n chunk bytes
//                               9 + n    4 ProtocolWire::mcAddCRC of the chunk bytes
//                              The builder always appends the checksum; a receiver tests it
//                              only under flag 0x02 (see splitMiddleChunk). Offsets count
//                              from the start of the payload; the header does not count.
//                              Answered with GENERAL_REPLY.
//
//   FINISH_PACKET (0x0005)     empty when sent from here; ignored on receipt. The receiver
//                              compares the payload checksum with the header's
//                              mcAddChecksum and answers with GENERAL_REPLY.
//
//   GENERAL_REPLY (0x0000)     offset size
//                                   0    1 status: 0x00 success, anything else failure
//                                          (this system sends 0x01)
//                                   1    1 0x03 from this system; a sender accepts a reply
//                                          only when this byte is 0x02 or 0x03
//                              A reply carries the sn of the packet it answers.
namespace TransWire {

inline constexpr qsizetype transHeaderLength = 52;
inline constexpr qsizetype firstTransReqLength = 1 + transHeaderLength;
inline constexpr qsizetype middleHeadLength = 9;
// Head plus the trailing chunk checksum.
inline constexpr qsizetype middleOverhead = middleHeadLength + 4;

inline constexpr qsizetype fileNameOffset = 4;
inline constexpr qsizetype fileNameFieldLength = 30;
// One byte short of the field, so a 0x00 always terminates the name.
inline constexpr qsizetype fileNameMaxBytes = 29;

inline constexpr quint16 dataTypeText = 0;
inline constexpr quint16 dataTypeImage = 1;
inline constexpr quint16 dataTypeFile = 2;

inline constexpr quint16 productID = 0x00BF;
inline constexpr quint16 appIDText = 0x0011;
inline constexpr quint16 appIDImage = 0x0012;
inline constexpr quint16 appIDFile = 0x0013;

inline constexpr quint8 middleFlagChecked = 0x02;
inline constexpr quint8 middleFlagUnchecked = 0x00;

inline constexpr quint8 replyStatusSuccess = 0x00;
inline constexpr quint8 replyStatusFailure = 0x01;
inline constexpr quint8 replyMarker = 0x03;

// Advertised in DEVICE_QUERY_RSP.
inline constexpr quint32 deviceBufferSize = 0x2840;

// The 52 header bytes announcing `payload`. The file name is written only for dataType 2,
// cut to its first 29 UTF-8 bytes; the cut may split a character, which the receiving side
// then decodes as an empty name.
QByteArray buildTransHeader(quint16 dataType, QByteArrayView payload, const QString& fileName);

// Reads the fields from the first 52 bytes without judging them. Fails with headerTooShort
// below 52 bytes.
Result<TransHeader, TransError> parseTransHeader(QByteArrayView data);

// parseTransHeader, then checks in this order: headerLength within 4..52 and the data
// (invalidHeaderLength), the checksum of the first headerLength - 4 bytes against
// headChecksum (headChecksumMismatch), totalFileSize >= headerLength (totalSizeTooSmall).
// A header that passes announces a payload size of zero or more.
Result<TransHeader, TransError> validateTransHeaderWire(QByteArrayView data);

// A FIRST_PACKET payload: needResponse and the validated header from bytes 1..52; anything
// after byte 52 is ignored. Fails with firstReqTooShort below 53 bytes, otherwise with what
// validateTransHeaderWire reports.
Result<FirstTransReq, TransError> parseFirstTransReq(QByteArrayView payload);

// This system's FIRST_PACKET payload: needResponse 0x01, then `header` twice.
QByteArray buildFirstTransReqPayload(QByteArrayView header);

// The 9-byte head of a MIDDLE_PACKET payload. Fails with middleHeadTooShort below 9 bytes.
Result<CommPacketHead, TransError> parseCommPacketHead(QByteArrayView payload);

// Splits the bytes after the 9-byte head into chunk and checksum. Under flag 0x02 the last
// 4 bytes are the received checksum when at least 4 bytes follow the head; otherwise the
// whole rest is the chunk and the received checksum counts as 0, so only an empty chunk
// passes. Under any other flag the whole rest is the chunk and nothing is tested.
// `payload` is expected to hold the head already parsed by parseCommPacketHead; the view
// in the result points into it.
MiddleChunk splitMiddleChunk(QByteArrayView payload, quint8 flag);

// A MIDDLE_PACKET payload: flag 0x02 when needReply, else 0x00, the indices as given (not
// checked against the chunk length), the chunk and its checksum. Always data + 13 bytes.
QByteArray buildTransMiddlePayload(QByteArrayView data, quint32 startIndex, quint32 endIndex,
                                   bool needReply);

// The GENERAL_REPLY payload this system sends: [0x00 or 0x01, 0x03].
QByteArray buildGeneralReplyPayload(bool success);

// The DEVICE_QUERY_RSP payload this system sends: 40 28 00 00 00 00.
QByteArray buildDeviceQueryRspPayload();

// "text", "image", "file", or "type(<n>)" for anything else.
QString transDataTypeName(quint16 dataType);

// Little-endian u32 at `offset`; 0 when the four bytes are not all inside `data`
// (negative offsets included).
quint32 loadLEUInt32(QByteArrayView data, qsizetype offset);

// Writes `value` little-endian at `offset`; does nothing when the four bytes would not all
// fit inside `data` (negative offsets included). Never grows the array.
void storeLEUInt32(QByteArray& data, qsizetype offset, quint32 value);

} // namespace TransWire
} // namespace orvane
