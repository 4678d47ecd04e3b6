#include "serial/SerialReconnectPolicy.h"

#include <algorithm>

namespace orvane::SerialReconnectPolicy {

using std::chrono::milliseconds;

milliseconds scheduleDelay(Backoff& backoff, ReasonClass reason, const SerialServiceTimings& t) {
    switch (reason) {
    case ReasonClass::fatal: {
        backoff.consecutiveFatalCount = std::min(backoff.consecutiveFatalCount + 1, maxCount);
        const milliseconds grown = t.minFatalReconnectDelay +
                                   t.fatalDelayStep * (backoff.consecutiveFatalCount - 1) +
                                   t.quickDeathDelayPenalty * backoff.quickDeathCount;
        const milliseconds ceiling =
            t.maxFatalReconnectDelay + t.quickDeathCeilingRaise * backoff.quickDeathCount;
        return std::min(grown, ceiling);
    }
    case ReasonClass::deviceGone:
        backoff.consecutiveFatalCount = 0;
        return t.deviceGoneReconnectDelay;
    case ReasonClass::other:
        break;
    }
    backoff.consecutiveFatalCount = 0;
    return t.reconnectCooldown;
}

void noteSessionEnded(Backoff& backoff, milliseconds lifetime, ReasonClass reason,
                      const SerialServiceTimings& t) {
    if (lifetime < t.quickDeathLifetime && reason == ReasonClass::fatal) {
        backoff.quickDeathCount = std::min(backoff.quickDeathCount + 1, maxCount);
    } else if (lifetime >= t.stableLifetime) {
        backoff.quickDeathCount = std::max(backoff.quickDeathCount - 1, qint64(0));
    }
}

milliseconds settleDelay(const Backoff& backoff, ReasonClass lastDisconnectReason,
                         const SerialServiceTimings& t) {
    const milliseconds base =
        lastDisconnectReason == ReasonClass::fatal ? t.fatalSettleDelay : t.settleDelay;
    return base + t.quickDeathSettlePenalty * std::min(backoff.quickDeathCount, qint64(4));
}

milliseconds preOpenSleep(const Backoff& backoff, const SerialServiceTimings& t) {
    const qint64 units = backoff.quickDeathCount + 2 + (backoff.consecutiveFatalCount > 0 ? 2 : 0);
    return t.preOpenSleepUnit * std::max(units, qint64(2));
}

int maxOpenAttempts(const Backoff& backoff) {
    return backoff.consecutiveFatalCount > 0 ? 2 : 3;
}

} // namespace orvane::SerialReconnectPolicy
