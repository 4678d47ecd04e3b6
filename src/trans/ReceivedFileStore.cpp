#include "trans/ReceivedFileStore.h"

namespace orvane {

namespace {

class DataDirectoryFileStore final : public ReceivedFileStore {
public:
    Result<AppFiles::ReceivedFileHandle, AppFilesError>
    openForWriting(const QString& fileName, qint64 expectedSize) override {
        return AppFiles::openReceivedFileForWriting(fileName, expectedSize);
    }
    void remove(const QString& path) override { AppFiles::removeFileIfExists(path); }
    Status<AppFilesError> purgeOlderThan(int keepDays) override {
        return AppFiles::purgeOldReceivedFiles(keepDays);
    }
};

} // namespace

std::shared_ptr<ReceivedFileStore> ReceivedFileStore::dataDirectory() {
    return std::make_shared<DataDirectoryFileStore>();
}

} // namespace orvane
