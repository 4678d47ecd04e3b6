#include "storage/DataDirectoryFiles.h"

namespace orvane {

Result<ReceivedFileStore::File, AppFilesError>
DataDirectoryFiles::openForWriting(const QString& fileName, qint64 expectedSize) {
    auto opened = directory_.openReceivedFile(fileName, expectedSize);
    if (!opened) {
        return fail(opened.error());
    }
    return File{opened->path, std::move(opened->handle)};
}

void DataDirectoryFiles::remove(const QString& path) {
    AppFiles::removeFileIfExists(path);
}

Status<AppFilesError> DataDirectoryFiles::purgeOlderThan(int keepDays) {
    return directory_.purgeReceivedFiles(keepDays);
}

Result<QString, AppFilesError> DataDirectoryFiles::saveImage(QByteArrayView data) {
    return directory_.saveClipboardImage(data);
}

} // namespace orvane
