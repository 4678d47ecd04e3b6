#pragma once

#include "clipboard/ClipboardContent.h"
#include "clipboard/ClipboardEntry.h"
#include "clipboard/ClipboardError.h"
#include "common/Result.h"

namespace orvane {

// The mappings between what the system clipboard holds and the history entries.
namespace ClipboardConversions {

// The history entry for content read from the clipboard, carrying `id` and
// `timestamp`. Content with no kind gives an empty text entry.
ClipboardEntry entryFromContent(const ClipboardContent& content, qint64 id, qint64 timestamp);

// The content to put on the clipboard for a history entry. An image takes its bytes
// from valid, non-empty Base64 first, else from its stored file; with neither the
// conversion fails with emptyContent.
Result<ClipboardContent, ClipboardError> contentFromEntry(const ClipboardEntry& entry);

} // namespace ClipboardConversions

} // namespace orvane
