#pragma once

#include "storage/DataDirectory.h"
#include "trans/ReceivedFileStore.h"

namespace orvane {

// What the device pushes, kept in a data directory: files under files/<day>/, images
// under clipboard_images/.
class DataDirectoryFiles final : public ReceivedFileStore {
public:
    explicit DataDirectoryFiles(DataDirectory directory)
        : directory_(std::move(directory)) {}

    Result<File, AppFilesError> openForWriting(const QString& fileName,
                                               qint64 expectedSize) override;
    void remove(const QString& path) override;
    Status<AppFilesError> purgeOlderThan(int keepDays) override;
    Result<QString, AppFilesError> saveImage(QByteArrayView data) override;

private:
    const DataDirectory directory_;
};

} // namespace orvane
