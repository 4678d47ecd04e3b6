#pragma once

#include <QByteArrayView>
#include <QString>

#include <initializer_list>
#include <optional>

namespace orvane {

// Lower-case hex SHA-256 (64 characters) of the concatenation of `parts`. Taking the
// parts separately spares a copy of large image data behind a short prefix.
QString hashBytes(std::initializer_list<QByteArrayView> parts);
inline QString hashBytes(QByteArrayView data) {
    return hashBytes({data});
}

// Lower-case hex SHA-256 of `prefix` followed by the contents of the file at `path`,
// streamed rather than loaded whole. Nothing when the file cannot be opened or read,
// or is empty: callers then fall back to hashing the prefix alone.
std::optional<QString> hashFileWithPrefix(QByteArrayView prefix, const QString& path);

} // namespace orvane
