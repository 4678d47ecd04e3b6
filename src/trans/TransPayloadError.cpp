#include "trans/TransPayloadError.h"

namespace orvane {

QString TransPayloadError::description() const {
    if (const auto* trans = std::get_if<TransError>(&cause_)) {
        return trans->errorDescription();
    }
    if (const auto* file = std::get_if<FileError>(&cause_)) {
        return file->description();
    }
    return std::get<AppFilesError>(cause_).description();
}

} // namespace orvane
