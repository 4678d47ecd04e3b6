#include "storage/DataDirectory.h"

namespace orvane {

Result<QString, AppFilesError> DataDirectory::root() const {
    return root_ ? AppFiles::ensureDataDir(*root_) : AppFiles::appDataDir();
}

Result<QString, AppFilesError> DataDirectory::databasePath() const {
    auto dir = root();
    if (!dir) {
        return dir;
    }
    return *dir + QStringLiteral("/data.db");
}

Result<QString, AppFilesError> DataDirectory::saveClipboardImage(QByteArrayView data) const {
    auto dir = root();
    if (!dir) {
        return dir;
    }
    return AppFiles::saveClipboardImagePNG(*dir, data);
}

Result<AppFiles::ReceivedFileHandle, AppFilesError>
DataDirectory::openReceivedFile(const QString& fileName, qint64 expectedSize) const {
    auto dir = root();
    if (!dir) {
        return fail(dir.error());
    }
    return AppFiles::openReceivedFileForWriting(*dir, fileName, expectedSize);
}

Status<AppFilesError> DataDirectory::purgeReceivedFiles(int keepDays, QDate today) const {
    auto dir = root();
    if (!dir) {
        return fail(dir.error());
    }
    return AppFiles::purgeOldReceivedFiles(*dir, keepDays, today);
}

} // namespace orvane
