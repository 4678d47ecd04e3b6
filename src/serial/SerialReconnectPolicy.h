#pragma once

#include "serial/SerialDisconnectReason.h"
#include "serial/SerialServiceTimings.h"

#include <QtGlobal>

#include <chrono>

namespace orvane {

// How long the serial service waits before its next connection attempt, judged by how the
// previous session ended. Pure arithmetic over the two counters the service keeps.
namespace SerialReconnectPolicy {

inline constexpr qint64 maxCount = 6;

using ReasonClass = SerialDisconnectReason::Class;

struct Backoff {
    qint64 consecutiveFatalCount = 0; // 0..maxCount
    qint64 quickDeathCount = 0;       // 0..maxCount

    friend bool operator==(const Backoff&, const Backoff&) = default;
};

// Updates the counters for a reconnect after `reason` and returns the wait before the next
// attempt: the fatal wait grows by a step per fatal end in a row from its minimum towards a
// ceiling, both raised by quick deaths; a vanished device waits briefly; anything else
// waits the ordinary cooldown.
std::chrono::milliseconds scheduleDelay(Backoff& backoff, ReasonClass reason,
                                        const SerialServiceTimings& timings);

// A session ended after `lifetime` with `reason`: a fatal end soon after connecting counts
// as a quick death; a long-lived session forgives one.
void noteSessionEnded(Backoff& backoff, std::chrono::milliseconds lifetime, ReasonClass reason,
                      const SerialServiceTimings& timings);

// The pause after closing a session before the port is opened again.
std::chrono::milliseconds settleDelay(const Backoff& backoff, ReasonClass lastDisconnectReason,
                                      const SerialServiceTimings& timings);

// The pause right before opening inside a connection attempt.
std::chrono::milliseconds preOpenSleep(const Backoff& backoff, const SerialServiceTimings& timings);

// Open attempts allowed in one connection attempt.
int maxOpenAttempts(const Backoff& backoff);

} // namespace SerialReconnectPolicy
} // namespace orvane
