#pragma once

#include "common/AppFilesError.h"
#include "common/Result.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>

namespace orvane {

// Where the TRANS receiver puts what the device pushes: files, and images as image files.
// The programs keep them in their data directory; a test or a second program can give
// the receiver a directory of its own. May be used from any thread.
class ReceivedFileStore {
public:
    // A received file prepared for piecewise writing.
    struct File {
        QString path;
        std::unique_ptr<QFile> handle; // open for writing, positioned at 0
    };

    virtual ~ReceivedFileStore() = default;

    // A new file for `fileName` (the sender's name), open for writing and pre-sized.
    virtual Result<File, AppFilesError> openForWriting(const QString& fileName,
                                                       qint64 expectedSize) = 0;
    // Removes a file that was not received completely.
    virtual void remove(const QString& path) = 0;
    // Drops what was received more than `keepDays` days ago.
    virtual Status<AppFilesError> purgeOlderThan(int keepDays) = 0;
    // Keeps a received image's bytes unchanged as an image file; returns its path.
    virtual Result<QString, AppFilesError> saveImage(QByteArrayView data) = 0;
};

} // namespace orvane
