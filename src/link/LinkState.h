#pragma once

namespace orvane {

// Where a link stands, as the views show it: closed (by choice or for want of a device),
// connecting to it, waiting to try again after a loss (reconnecting), or live.
enum class LinkPhase {
    closed,
    connecting,
    reconnecting,
    live,
};

struct LinkState {
    LinkPhase phase = LinkPhase::closed;

    bool isLive() const { return phase == LinkPhase::live; }

    friend bool operator==(const LinkState&, const LinkState&) = default;
};

} // namespace orvane
