#include "storage/AppFiles.h"

#include "common/SystemErrorText.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace orvane::AppFiles {

namespace {

const QString dayFormat = QStringLiteral("yyyy-MM-dd");

// NAME_MAX of the usual Linux file systems, counted in bytes of the encoded name.
constexpr qsizetype maxNameBytes = 255;
// An extension longer than this is not worth keeping when a name must be shortened.
constexpr qsizetype maxKeptExtensionBytes = 64;

std::filesystem::path nativePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

FileError fileError(const QString& operation, const QString& path, const QString& reason) {
    return FileError{operation, path, reason};
}

Status<AppFilesError> ensureDirectory(const QString& path) {
    std::error_code ec;
    std::filesystem::create_directories(nativePath(path), ec);
    if (ec) {
        return fail(AppFilesError::fileSystem(fileError(QStringLiteral("create directory"), path,
                                                        QString::fromStdString(ec.message()))));
    }
    return Done{};
}

Result<QString, AppFilesError> subdirectory(const QString& root, const QString& relative) {
    const QString path = root + u'/' + relative;
    if (auto made = ensureDirectory(path); !made) {
        return fail(made.error());
    }
    return path;
}

qsizetype utf8Length(QStringView text) {
    qsizetype bytes = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        // A surrogate pair is four bytes, two for each half.
        bytes += u < 0x80 ? 1 : u < 0x800 || c.isSurrogate() ? 2 : 3;
    }
    return bytes;
}

// Cuts `text` to at most `budget` UTF-8 bytes without splitting a character.
QString truncateUtf8(const QString& text, qsizetype budget) {
    qsizetype used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype units = text.at(end).isHighSurrogate() ? 2 : 1;
        const qsizetype bytes = utf8Length(QStringView(text).mid(end, units));
        if (used + bytes > budget) {
            break;
        }
        used += bytes;
        end += units;
    }
    return text.left(end);
}

QString shortenName(const QString& name) {
    if (utf8Length(name) <= maxNameBytes) {
        return name;
    }
    QString stem = name;
    QString extension;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0 && utf8Length(QStringView(name).mid(dot)) <= maxKeptExtensionBytes) {
        stem = name.left(dot);
        extension = name.mid(dot);
    }
    return truncateUtf8(stem, maxNameBytes - utf8Length(extension)) + extension;
}

Result<QString, AppFilesError> todaysTarget(const QString& root, const QString& fileName) {
    const std::optional<QString> name = receivedFileName(fileName);
    if (!name) {
        return fail(AppFilesError::invalidName());
    }
    auto dir = receivedFilesDir(root, QDate::currentDate());
    if (!dir) {
        return dir;
    }
    return *dir + u'/' + *name;
}

Status<AppFilesError> removeEntry(const QString& path) {
    QFile file(path);
    if (!file.remove()) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("remove"), path, file.errorString())));
    }
    return Done{};
}

bool entryExists(const QString& path) {
    const QFileInfo info(path);
    // exists() follows links, so a dangling link needs its own test.
    return info.exists() || info.isSymLink();
}

Status<AppFilesError> writeAll(QFileDevice& file, QByteArrayView data, const QString& path) {
    if (file.write(data.constData(), data.size()) != data.size()) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("write"), path, file.errorString())));
    }
    return Done{};
}

// Sizes a new file to `size` bytes with its blocks allocated up front, so that a disk
// too small for the transfer says so before the first chunk, and writing the chunks
// needs no block allocation on the way. A disk without room for it is not filled up
// to the last block first. File systems without allocation get a sparse file.
Status<QString> reserveSize(QFile& file, qint64 size) {
    if (size <= 0) {
        return Done{};
    }
    const QStorageInfo volume(QFileInfo(file.fileName()).absolutePath());
    if (volume.isValid() && volume.bytesAvailable() >= 0 && volume.bytesAvailable() < size) {
        return fail(systemErrorText(ENOSPC));
    }
    if (::fallocate(file.handle(), 0, 0, size) == 0) {
        return Done{};
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return fail(systemErrorText(errno));
    }
    if (!file.resize(size)) {
        return fail(file.errorString());
    }
    return Done{};
}

} // namespace

Result<QString, AppFilesError> ensureDataDir(const QString& root) {
    if (auto made = ensureDirectory(root); !made) {
        return fail(made.error());
    }
    return root;
}

Result<QString, AppFilesError> appDataDir() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("locate"), QStringLiteral("data directory"),
                      QStringLiteral("no home directory to hold the application data"))));
    }
    const QString path = base + QStringLiteral("/Orvane");
    if (auto made = ensureDirectory(path); !made) {
        return fail(made.error());
    }
    return path;
}

Result<QString, AppFilesError> receivedFilesDir(QDate date) {
    auto root = appDataDir();
    if (!root) {
        return root;
    }
    return receivedFilesDir(*root, date);
}

Result<QString, AppFilesError> receivedFilesDir(const QString& root, QDate date) {
    return subdirectory(root, QStringLiteral("files/") + date.toString(dayFormat));
}

std::optional<QString> receivedFileName(const QString& fileName) {
    QString name = fileName.trimmed();
    // A sender on another system may use "\" as its separator; on our side it is a legal
    // file name character, but never one that a sender means as part of a name.
    name.replace(u'\\', u'/');
    while (name.endsWith(u'/')) {
        name.chop(1);
    }
    name = name.mid(name.lastIndexOf(u'/') + 1);

    // ".." would name the directory of all received files, which replacing the target
    // would then delete.
    if (name.isEmpty() || name == u"." || name == u"..") {
        return std::nullopt;
    }
    if (!name.isValidUtf16()) {
        return std::nullopt;
    }
    // NUL would cut the name short at the system call; other control characters make
    // names that cannot be shown or typed. None belongs in a name a user sent.
    const bool hasControl = std::any_of(
        name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (hasControl) {
        return std::nullopt;
    }
    return shortenName(name);
}

Result<QString, AppFilesError> saveClipboardImagePNG(QByteArrayView data) {
    auto root = appDataDir();
    if (!root) {
        return root;
    }
    return saveClipboardImagePNG(*root, data);
}

Result<QString, AppFilesError> saveClipboardImagePNG(const QString& root, QByteArrayView data) {
    auto dir = subdirectory(root, QStringLiteral("clipboard_images"));
    if (!dir) {
        return dir;
    }

    // Written under a temporary name first, so the final name only ever holds a complete
    // image, then moved to a name nobody holds yet.
    QTemporaryFile temp(*dir + QStringLiteral("/.image-XXXXXX"));
    if (!temp.open()) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("create"), *dir, temp.errorString())));
    }
    if (auto written = writeAll(temp, data, temp.fileName()); !written) {
        return fail(written.error());
    }
    if (!temp.flush() || ::fsync(temp.handle()) != 0) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("write"), temp.fileName(), temp.errorString())));
    }

    const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch());
    constexpr int maxAttempts = 1000;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        const QString target = *dir + u'/' + stamp +
                               (attempt == 0 ? QString() : u'-' + QString::number(attempt)) +
                               QStringLiteral(".png");
        // QFile::rename never replaces an existing file.
        QFile moved(temp.fileName());
        if (moved.rename(target)) {
            temp.setAutoRemove(false);
            return target;
        }
        if (!entryExists(target)) {
            return fail(AppFilesError::fileSystem(
                fileError(QStringLiteral("rename"), target, moved.errorString())));
        }
    }
    return fail(AppFilesError::fileSystem(fileError(QStringLiteral("rename"), *dir + u'/' + stamp,
                                                    QStringLiteral("no free image name"))));
}

Result<QString, AppFilesError> saveReceivedFile(const QString& fileName, QByteArrayView data) {
    auto root = appDataDir();
    if (!root) {
        return root;
    }
    auto target = todaysTarget(*root, fileName);
    if (!target) {
        return target;
    }
    // The save replaces whatever stands under the name; it must not write through a link
    // into some other place.
    if (QFileInfo(*target).isSymLink()) {
        if (auto removed = removeEntry(*target); !removed) {
            return fail(removed.error());
        }
    }
    QSaveFile file(*target);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("open"), *target, file.errorString())));
    }
    if (auto written = writeAll(file, data, *target); !written) {
        return fail(written.error());
    }
    if (!file.commit()) {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("write"), *target, file.errorString())));
    }
    (void)purgeOldReceivedFiles(*root, 7, QDate::currentDate());
    return target;
}

Result<ReceivedFileHandle, AppFilesError> openReceivedFileForWriting(const QString& fileName,
                                                                     qint64 expectedSize) {
    auto root = appDataDir();
    if (!root) {
        return fail(root.error());
    }
    return openReceivedFileForWriting(*root, fileName, expectedSize);
}

Result<ReceivedFileHandle, AppFilesError>
openReceivedFileForWriting(const QString& root, const QString& fileName, qint64 expectedSize) {
    if (expectedSize < 0) {
        return fail(AppFilesError::invalidName());
    }
    auto target = todaysTarget(root, fileName);
    if (!target) {
        return fail(target.error());
    }
    // Only a file or a link is replaced: a directory under the name stays and the
    // removal error is reported.
    if (entryExists(*target)) {
        if (auto removed = removeEntry(*target); !removed) {
            return fail(removed.error());
        }
    }
    auto file = std::make_unique<QFile>(*target);
    // NewOnly: should anything reappear under the name meanwhile, it is not overwritten.
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return fail(AppFilesError::createFailed(
            fileError(QStringLiteral("create"), *target, file->errorString())));
    }
    if (auto sized = reserveSize(*file, expectedSize); !sized) {
        const FileError error = fileError(QStringLiteral("resize"), *target, sized.error());
        file.reset();
        // The empty file just created is of no use to anyone.
        QFile::remove(*target);
        return fail(AppFilesError::fileSystem(error));
    }
    return ReceivedFileHandle{*target, std::move(file)};
}

void removeFileIfExists(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    QFile::remove(path);
}

Status<AppFilesError> purgeOldReceivedFiles(int keepDays, QDate today) {
    auto root = appDataDir();
    if (!root) {
        return fail(root.error());
    }
    return purgeOldReceivedFiles(*root, keepDays, today);
}

Status<AppFilesError> purgeOldReceivedFiles(const QString& root, int keepDays, QDate today) {
    Q_ASSERT(keepDays >= 0);
    const QString filesDir = root + QStringLiteral("/files");
    if (!QFileInfo(filesDir).isDir()) {
        return Done{};
    }
    // Counted in calendar days rather than in 86400-second steps, so that a day of 25
    // hours at a daylight-saving change cannot take the oldest kept day with it.
    const QDate cutoff = today.addDays(-std::max(keepDays, 0));

    std::error_code ec;
    std::filesystem::directory_iterator it(nativePath(filesDir), ec);
    const auto listingFailed = [&] {
        return fail(AppFilesError::fileSystem(
            fileError(QStringLiteral("list"), filesDir, QString::fromStdString(ec.message()))));
    };
    if (ec) {
        return listingFailed();
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            return listingFailed();
        }
        std::error_code statusError;
        // A link is never followed here: removing "its contents" would reach outside.
        if (!it->is_directory(statusError) || it->is_symlink(statusError)) {
            continue;
        }
        const QString name = QFile::decodeName(it->path().filename().c_str());
        const QDate date = QDate::fromString(name, dayFormat);
        if (!date.isValid() || date.toString(dayFormat) != name || date >= cutoff) {
            continue;
        }
        QDir(filesDir + u'/' + name).removeRecursively();
    }
    if (ec) {
        return listingFailed();
    }
    return Done{};
}

} // namespace orvane::AppFiles
