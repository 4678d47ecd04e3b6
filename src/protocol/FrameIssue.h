#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// A problem met while cutting frames out of a byte stream, for the debug log:
// what happened and the bytes concerned.
struct FrameIssue {
    QString message;
    std::optional<QByteArray> data;

    friend bool operator==(const FrameIssue&, const FrameIssue&) = default;
};

} // namespace orvane
