#pragma once

#include "common/AppFilesError.h"
#include "common/Result.h"
#include "storage/AppFiles.h"

#include <QByteArrayView>
#include <QDate>
#include <QString>

#include <optional>

namespace orvane {

// The directory holding one installation's data: data.db, clipboard_images/ and files/.
// The programs use the application data directory ($XDG_DATA_HOME/Orvane, located and
// created on each use, so that a home that appears later is still found); tests and
// tools may name any other. A plain value, usable from any thread.
class DataDirectory {
public:
    // The application data directory.
    static DataDirectory standard() { return DataDirectory(); }
    // `root`, created when first needed.
    static DataDirectory at(QString root) { return DataDirectory(std::move(root)); }

    // The directory, created if needed.
    Result<QString, AppFilesError> root() const;
    // data.db in the directory.
    Result<QString, AppFilesError> databasePath() const;

    // As AppFiles::saveClipboardImagePNG, in this directory.
    Result<QString, AppFilesError> saveClipboardImage(QByteArrayView data) const;
    // As AppFiles::openReceivedFileForWriting, in this directory.
    Result<AppFiles::ReceivedFileHandle, AppFilesError> openReceivedFile(const QString& fileName,
                                                                         qint64 expectedSize) const;
    // As AppFiles::purgeOldReceivedFiles, in this directory.
    Status<AppFilesError> purgeReceivedFiles(int keepDays,
                                             QDate today = QDate::currentDate()) const;

    friend bool operator==(const DataDirectory&, const DataDirectory&) = default;

private:
    DataDirectory() = default;
    explicit DataDirectory(QString root)
        : root_(std::move(root)) {}

    std::optional<QString> root_; // the application data directory when empty
};

} // namespace orvane
