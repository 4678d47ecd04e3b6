#pragma once

#include "common/Result.h"
#include "link/LinkKind.h"
#include "link/LinkState.h"
#include "serial/SerialWriteError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace orvane {

// One way to the device. Frames the device sends arrive at the LinkFrameRouter with their
// link as an argument; what goes back out, replies and transfers alike, goes through send()
// on the link chosen for it.
class Link {
public:
    using SendResult = Status<SerialWriteError>;
    // Hears a send's outcome, on the link's own sending thread.
    using SendCompletion = std::function<void(SendResult)>;

    virtual ~Link() = default;

    virtual LinkKind kind() const = 0;

    // Any thread; returns at once. Frames go out in the order they were handed over. With a
    // label the frame is logged as sent (MIDDLE_PACKETs excepted) unless the link logs every
    // frame it sends anyway; without a completion a failure is logged instead. A link that is not
    // up refuses with serialClosed.
    virtual void send(QByteArray frame, std::optional<QString> label,
                      SendCompletion completion) = 0;
    // The same, waiting for the outcome: for worker threads only (a TRANS send), never the
    // main thread, whose event loop a link may need.
    virtual SendResult sendAndWait(QByteArray frame, std::optional<QString> label) = 0;

    // Main thread.
    virtual LinkState state() const = 0;
};

} // namespace orvane
