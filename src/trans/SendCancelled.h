#pragma once

namespace orvane {

// A send stopped because its caller asked it to (std::stop_token). Not a failure of the
// link or the device, so callers report it differently from a TransError.
struct SendCancelled {
    friend bool operator==(SendCancelled, SendCancelled) = default;
};

} // namespace orvane
