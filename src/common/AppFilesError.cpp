#include "common/AppFilesError.h"

namespace orvane {

QString AppFilesError::description() const {
    switch (code_) {
    case Code::invalidName:
        return QStringLiteral("AppFilesError.invalidName");
    case Code::createFailed:
        return QStringLiteral("AppFilesError.createFailed: ") + fileError_->description();
    case Code::fileSystem:
        return fileError_->description();
    }
    Q_UNREACHABLE();
}

} // namespace orvane
