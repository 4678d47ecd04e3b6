#pragma once

#include "clipboard/ClipboardEntry.h"
#include "clipboard/ClipboardRecord.h"
#include "common/AppFilesError.h"
#include "common/Result.h"
#include "storage/DataDirectory.h"

namespace orvane {

// How history entries are stored as clipboard_history rows and loaded back.
namespace ClipboardRecordMapping {

// The row for an entry (id 0: the store assigns it). An image held only in memory is
// first saved as a file in `directory`, whose path the row keeps; a failure to save it is
// returned.
// The row's recordFingerprint equals the entry's fingerprint.
Result<ClipboardRecord, AppFilesError> recordFromEntry(const ClipboardEntry& entry,
                                                       const DataDirectory& directory);

// The entry for a stored row. An unknown kind loads as text, an unreadable file list as
// no files; the size and the fingerprint are computed afresh (for an image, from the file
// on disk).
ClipboardEntry entryFromRecord(const ClipboardRecord& record);

} // namespace ClipboardRecordMapping

} // namespace orvane
