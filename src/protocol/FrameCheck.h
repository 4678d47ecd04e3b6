#pragma once

// Internal to the protocol library.

#include "protocol/FrameValidationError.h"

#include <QByteArrayView>

#include <optional>

namespace orvane::ProtocolWire::detail {

// validateFrameDetailed without the payload copy: fills `header` when the header
// parses and returns the first failing rule, or nothing for a valid frame.
std::optional<FrameValidationError> checkFrame(QByteArrayView frame, WireHeader& header);

} // namespace orvane::ProtocolWire::detail
