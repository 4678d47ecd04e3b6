#pragma once

#include "common/Result.h"
#include "storage/AppFiles.h"
#include "storage/AppFilesError.h"

#include <QString>

#include <memory>

namespace orvane {

// Where the TRANS receiver puts the files the device pushes. The application keeps them in
// its data directory; a test or a second program can give the receiver a directory of its
// own. May be used from any thread.
class ReceivedFileStore {
public:
    virtual ~ReceivedFileStore() = default;

    // A new file for `fileName` (the sender's name), open for writing and pre-sized.
    virtual Result<AppFiles::ReceivedFileHandle, AppFilesError>
    openForWriting(const QString& fileName, qint64 expectedSize) = 0;
    // Removes a file that was not received completely.
    virtual void remove(const QString& path) = 0;
    // Drops what was received more than `keepDays` days ago.
    virtual Status<AppFilesError> purgeOlderThan(int keepDays) = 0;

    // The application's data directory (files/<day>/ under $XDG_DATA_HOME/Orvane).
    static std::shared_ptr<ReceivedFileStore> dataDirectory();
};

} // namespace orvane
