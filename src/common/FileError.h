#pragma once

#include <QString>

namespace orvane {

// A file-system failure passed on to the caller: what was attempted, on which path,
// and the system's own explanation. description() is what users and logs see.
struct FileError {
    QString operation; // e.g. "open", "write", "create directory"
    QString path;
    QString reason; // the system's text (strerror / QFileDevice::errorString)

    QString description() const {
        return operation + QStringLiteral(" ") + path + QStringLiteral(": ") + reason;
    }

    friend bool operator==(const FileError&, const FileError&) = default;
};

} // namespace orvane
