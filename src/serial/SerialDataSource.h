#pragma once

namespace orvane {

// Which link the frame being handled came from.
enum class SerialDataSource {
    unknown,
    serial,
    bluetooth,
};

} // namespace orvane
