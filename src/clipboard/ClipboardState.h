#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QList>

namespace orvane {

// What the clipboard manager publishes: the content last seen on or put onto the
// clipboard, and the history, newest first.
struct ClipboardState {
    ClipboardEntry current;
    QList<ClipboardEntry> history;

    friend bool operator==(const ClipboardState&, const ClipboardState&) = default;
};

} // namespace orvane
