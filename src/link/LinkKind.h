#pragma once

namespace orvane {

// The two ways the device can be reached. Each is a peer behind Link; a frame carries the
// kind of the link it came over.
enum class LinkKind {
    serial,
    bluetooth,
};

} // namespace orvane
