#pragma once

#include <QString>

#include <variant>

namespace orvane {

// The link the user (or the first probe) chose: none, a serial port, or a BLE bridge.
struct SerialLinkChoice {
    QString path;
    friend bool operator==(const SerialLinkChoice&, const SerialLinkChoice&) = default;
};

struct BleLinkChoice {
    QString id;
    QString name;
    friend bool operator==(const BleLinkChoice&, const BleLinkChoice&) = default;
};

using LinkSelection = std::variant<std::monostate, SerialLinkChoice, BleLinkChoice>;

} // namespace orvane
