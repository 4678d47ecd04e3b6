#pragma once

#include "common/AppFilesError.h"
#include "common/Result.h"

#include <QByteArrayView>
#include <QDate>
#include <QFile>
#include <QString>

#include <memory>
#include <optional>

namespace orvane {

// Where the application keeps its data, all under $XDG_DATA_HOME/Orvane:
//   data.db                     the settings and history database
//   clipboard_images/<ms>.png   stored clipboard images
//   files/<yyyy-MM-dd>/<name>   files received from the device, by local day of reception
// Directories are created on demand. Every operation is stateless and may run on any
// thread. The operations taking a `root` work in that directory (created already)
// instead; the others locate the application data directory first.
namespace AppFiles {

// A received file prepared for piecewise writing.
struct ReceivedFileHandle {
    QString path;
    std::unique_ptr<QFile> handle; // open for writing, positioned at 0
};

// The application data directory, created if needed.
Result<QString, AppFilesError> appDataDir();

// `root`, created if needed.
Result<QString, AppFilesError> ensureDataDir(const QString& root);

// files/<yyyy-MM-dd>/ for `date`, both levels created if needed.
Result<QString, AppFilesError> receivedFilesDir(QDate date);
Result<QString, AppFilesError> receivedFilesDir(const QString& root, QDate date);

// The name under which a received file is stored, or nothing when the sender's name is
// unusable. Only the last path component counts ("/" and "\" both separate, so a sender's
// "C:\x\a.txt" is stored as a.txt); empty, ".", ".." and names holding control characters
// or broken UTF-16 are refused; a name longer than the file system allows (255 UTF-8
// bytes) is shortened, keeping its extension. The result can never address anything but
// an entry of the day directory itself.
std::optional<QString> receivedFileName(const QString& fileName);

// Stores an image under clipboard_images/<now in ms>.png and returns its path. The bytes
// are stored unchanged (they may be JPEG). An image never replaces another one: a name
// already taken within the same millisecond gets a "-<n>" suffix.
Result<QString, AppFilesError> saveClipboardImagePNG(QByteArrayView data);
Result<QString, AppFilesError> saveClipboardImagePNG(const QString& root, QByteArrayView data);

// Stores a whole received file in today's directory, replacing a file of the same name
// received earlier that day, then purges day directories older than 7 days (a purge
// failure is ignored). Returns the file's path. The file appears complete or not at all.
Result<QString, AppFilesError> saveReceivedFile(const QString& fileName, QByteArrayView data);

// Creates an empty received file in today's directory (replacing a file of that name) and
// returns it open for writing, pre-sized to `expectedSize` bytes when that is positive.
// A negative size is refused like an unusable name. The caller fills the file and closes
// it, and removes it with removeFileIfExists when the transfer fails.
Result<ReceivedFileHandle, AppFilesError> openReceivedFileForWriting(const QString& fileName,
                                                                     qint64 expectedSize);
Result<ReceivedFileHandle, AppFilesError>
openReceivedFileForWriting(const QString& root, const QString& fileName, qint64 expectedSize);

// Removes the file (not a directory) at `path`, ignoring any failure. An empty path does
// nothing.
void removeFileIfExists(const QString& path);

// Removes the day directories under files/ older than `keepDays` days before `today`:
// with 7, today and the seven days before survive. Anything that is not a real directory
// named like a date stays. Fails only when files/ cannot be listed.
Status<AppFilesError> purgeOldReceivedFiles(int keepDays, QDate today = QDate::currentDate());
Status<AppFilesError> purgeOldReceivedFiles(const QString& root, int keepDays, QDate today);

} // namespace AppFiles

} // namespace orvane
