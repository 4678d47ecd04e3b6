#pragma once

#include <QtGlobal>

namespace orvane {

// Frame type codes carried in WireHeader::type.
namespace FrameType {
inline constexpr quint16 GENERAL_REPLY = 0x0000;    // acknowledges a TRANS step, both directions
inline constexpr quint16 START_REQUEST = 0x0001;    // opens a TRANS transfer
inline constexpr quint16 DEVICE_QUERY = 0x0002;     // identity query on the TRANS channel
inline constexpr quint16 FIRST_PACKET = 0x0003;     // TRANS transfer header
inline constexpr quint16 MIDDLE_PACKET = 0x0004;    // TRANS data chunk
inline constexpr quint16 FINISH_PACKET = 0x0005;    // closes a TRANS transfer
inline constexpr quint16 PERIPHERAL_ECHO = 0x0014;  // device liveness probe, echoed back
inline constexpr quint16 DEVICE_QUERY_RSP = 0x0082; // answer to DEVICE_QUERY
} // namespace FrameType

// Logical channels; frames on any other channel are dropped.
namespace FrameChannel {
inline constexpr quint8 peripheral = 0x03;
inline constexpr quint8 trans = 0x06;
} // namespace FrameChannel

} // namespace orvane
