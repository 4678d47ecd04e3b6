#pragma once

#include "clipboard/ClipboardContent.h"

namespace orvane {

// One read of the system clipboard.
struct ClipboardReading {
    ClipboardContent content;
    // A password manager marked the clipboard's content as secret. The content is then
    // left unread (its kind is absent): it must never reach the history or the disk.
    bool secret = false;
};

} // namespace orvane
