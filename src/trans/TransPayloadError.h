#pragma once

#include "common/AppFilesError.h"
#include "common/FileError.h"
#include "protocol/TransError.h"

#include <QString>

#include <variant>

namespace orvane {

// Why a clipboard item could not become a TRANS payload, or a received payload a
// clipboard entry: a TRANS error, or a file or image-store failure passed on as it came.
class TransPayloadError {
public:
    using Cause = std::variant<TransError, FileError, AppFilesError>;

    TransPayloadError(TransError error)
        : cause_(std::move(error)) {}
    TransPayloadError(TransError::Code code)
        : cause_(TransError(code)) {}
    TransPayloadError(FileError error)
        : cause_(std::move(error)) {}
    TransPayloadError(AppFilesError error)
        : cause_(std::move(error)) {}

    const Cause& cause() const { return cause_; }
    // The TRANS error, when that is what it is.
    const TransError* transError() const { return std::get_if<TransError>(&cause_); }

    // The text users and logs see.
    QString description() const;

    friend bool operator==(const TransPayloadError&, const TransPayloadError&) = default;

private:
    Cause cause_;
};

} // namespace orvane
