#pragma once

#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "protocol/TransHeader.h"
#include "trans/PayloadStorage.h"
#include "trans/ReceivedFileStore.h"
#include "trans/SendJob.h"
#include "trans/TransPayloadError.h"

#include <QString>

#include <optional>

namespace orvane {

// How a clipboard item travels as a TRANS payload: the bytes are the item itself
// (UTF-8 text, the image file's bytes, the file's bytes), never wrapped or re-encoded.
namespace TransPayload {

inline constexpr qint64 maxTextBytes = 0x100000;  // 1 MiB, both directions
inline constexpr qint64 maxImageBytes = 0xA00000; // 10 MiB, both directions
// The largest file whose size the 32-bit transfer header can still announce.
inline constexpr qint64 maxFileBytes = qint64(0xFFFFFFFF) - 52;

// Reduces a sender's or a stored path to a bare file name: trimmed, "\" taken as "/",
// the last component kept. C:\Users\a\report.pdf and /tmp/x/report.pdf both give
// report.pdf; a path ending in a separator gives the empty text.
QString reduceFileName(const QString& path);

// Outbound jobs, chosen by the entry's kind: text -> textJob, image -> imageJob,
// files -> fileJob (only the first path of a files entry is ever sent). Files have no
// limit of their own beyond what the transfer header can announce (maxFileBytes).
Result<SendJob, TransPayloadError> textJob(const ClipboardEntry& entry);
Result<QByteArray, TransPayloadError> imageBytes(const ClipboardEntry& entry);
Result<SendJob, TransPayloadError> imageJob(const ClipboardEntry& entry);
Result<SendJob, TransPayloadError> fileJob(const ClipboardEntry& entry);
// The job for the entry's kind.
Result<SendJob, TransPayloadError> jobFor(const ClipboardEntry& entry);

// The history entry for a completed incoming transfer (id 0, stamped now, fingerprinted
// from the payload). A received image is stored as a file in `files` first. A payload in the wrong
// form for its data type (no byte of a text or image ever arrived, a file type without a file) is
// emptyPayload; an unknown data type fails the transfer.
Result<ClipboardEntry, TransPayloadError>
buildClipboardEntry(const TransHeader& header, const std::optional<PayloadStorage>& storage,
                    ReceivedFileStore& files);

} // namespace TransPayload

} // namespace orvane
