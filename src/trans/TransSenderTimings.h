#pragma once

#include <chrono>

namespace orvane {

// The pacing of an outgoing transfer. The defaults are what devices expect; tests pass
// shorter ones so that silence and retries play out in milliseconds.
struct TransSenderTimings {
    // Pause before every frame written, resends included: the device needs the gap to
    // drain its own buffer between frames.
    std::chrono::milliseconds writePause{150};
    // How long one attempt waits for a reply, counted from the moment the wait starts.
    std::chrono::milliseconds replyWait{2000};
};

} // namespace orvane
