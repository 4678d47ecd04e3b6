#pragma once

#include "clipboard/ClipboardContent.h"
#include "clipboard/ClipboardError.h"
#include "clipboard/ClipboardReading.h"
#include "common/Result.h"

#include <QtGlobal>

#include <functional>

namespace orvane {

// The system clipboard as the clipboard manager sees it. The desktop backend lives with
// the platform code; the manager's tests use an in-memory one.
//
// Threads: every call is made on the thread that owns the clipboard (the main thread).
class ClipboardIO {
public:
    virtual ~ClipboardIO() = default;

    // A counter that changes whenever any program, this one included, changes the
    // clipboard. Only equality matters: a changed value means "look again".
    virtual quint64 changeCount() const = 0;

    // Reads the clipboard; first match wins: file references (existing paths only, in
    // order), then text (CRLF becomes LF), then an image (PNG or JPEG bytes as offered,
    // any other decodable image as PNG). Never fails: with nothing usable the content's
    // kind is absent.
    virtual ClipboardReading readContent() = 0;

    // Replaces the clipboard's content. The old content is gone whatever the outcome.
    // Fails with emptyContent when the content has no kind, emptyImage when image bytes
    // are missing or undecodable, and writeFailed naming the format that could not be set.
    virtual Status<ClipboardError> writeContent(const ClipboardContent& content) = 0;

    // True for a backend that knows when another program's change is complete and
    // already read: it then calls the settled-change listener, and changeCount() and
    // readContent() answer for that change from then on. Such a change needs neither
    // polling nor a wait for the writer to finish offering formats. A backend that says
    // false never calls the listener.
    virtual bool announcesSettledChanges() const { return false; }
    // Called on the owner's thread after each settled change by another program (never
    // for this program's own writes); an empty listener stops the calls.
    virtual void setSettledChangeListener(std::function<void()> listener) { Q_UNUSED(listener); }
};

} // namespace orvane
