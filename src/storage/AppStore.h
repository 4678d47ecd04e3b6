#pragma once

#include "clipboard/ClipboardEntry.h"
#include "clipboard/ClipboardRecord.h"
#include "common/Result.h"
#include "storage/AppSettings.h"
#include "storage/StoreError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

struct sqlite3;

namespace orvane {

// The application's settings and its persistent clipboard history, kept in one SQLite
// file (data.db in the application data directory).
//
// Threads: any thread may call any operation. Every operation does all of its database
// work under one lock, the store's serial queue "com.orvane.appstore.db", and the caller
// waits until it is done, so the single connection is never used by two threads at once.
// The store never runs caller code while it holds the lock, so there is no way to
// re-enter it from inside; operations whose names end in Locked expect the lock held.
//
// Failures come back as StoreError; nothing throws and a broken file never crashes.
class AppStore {
public:
    // Milliseconds since 1970-01-01 UTC; replaceable so that tests control "recent".
    using Clock = std::function<qint64()>;

    // Opens (creating if needed) data.db in the application data directory. A data
    // directory that cannot be created fails with a message carrying the reason.
    static Result<std::unique_ptr<AppStore>, StoreError> open(Clock nowMs = {});
    // Opens the database at databasePath; its directory must exist.
    static Result<std::unique_ptr<AppStore>, StoreError> open(const QString& databasePath,
                                                              Clock nowMs = {});

    // As open(), but a file that SQLite finds damaged or not a database at all (on opening,
    // creating the tables or reading the settings) is moved aside, never deleted, and a
    // fresh store takes its place; damagedCopy() then names where the old file went. Every
    // other failure (no permission, a read-only directory, a full disk, a directory in the
    // file's place) leaves the file alone and is returned, as is a damaged file that cannot
    // be moved. Both programs open the store this way.
    static Result<std::unique_ptr<AppStore>, StoreError> openOrRecover(Clock nowMs = {});
    static Result<std::unique_ptr<AppStore>, StoreError> openOrRecover(const QString& databasePath,
                                                                       Clock nowMs = {});

    ~AppStore();
    AppStore(const AppStore&) = delete;
    AppStore& operator=(const AppStore&) = delete;

    // Unset or unusable keys read as their defaults; serialDebugLogEnabled then reads as
    // false, unlike a default-constructed AppSettings.
    Result<AppSettings, StoreError> getSettings() const;
    // Writes the six keys one by one; a failure stops there and keeps the earlier ones.
    Status<StoreError> saveSettings(const AppSettings& settings);
    // Whether a non-empty serial port / Bluetooth device id is stored.
    Result<bool, StoreError> hasSerialPort() const;
    Result<bool, StoreError> hasBluetoothDevice() const;

    // Stores the record (its id is ignored), trims the history to historyCapacity rows
    // (ClipboardEntry.h) and returns the new row id. A failed trim fails the call although the row
    // stays.
    Result<qint64, StoreError> addClipboardRecord(const ClipboardRecord& record);
    // Newest first (by createdAt, then by the larger id). A negative limit means all rows.
    Result<QList<ClipboardRecord>, StoreError> listClipboardRecords(int limit) const;
    Status<StoreError> deleteClipboardRecord(qint64 id);
    Status<StoreError> clearClipboardRecords();
    // Whether one of the 5 newest rows, created no earlier than withinMs before now,
    // has this content fingerprint. Rows further back are not looked at.
    Result<bool, StoreError> hasRecentClipboardRecord(const QString& fingerprint,
                                                      qint64 withinMs) const;
    // The rows that check looks at: of the 5 newest rows, those created no earlier than
    // withinMs before now, newest first. For callers that know the rows' fingerprints.
    Result<QList<ClipboardRecord>, StoreError> recentClipboardRecords(qint64 withinMs) const;

    // Where the damaged database was moved when openOrRecover() started afresh.
    const std::optional<QString>& damagedCopy() const { return damagedCopy_; }

    // Whether a file system of this type (as QStorageInfo names it) is reached over the
    // network, where the store does without a write-ahead log.
    static bool isNetworkFileSystem(QByteArrayView type);

private:
    explicit AppStore(Clock nowMs);

    template <typename Work>
    auto sync(Work&& work) const;

    Status<StoreError> openLocked(const QString& databasePath);
    Status<StoreError> execLocked(const QByteArray& sql) const;
    Result<std::optional<QString>, StoreError> getStringLocked(const char* key) const;
    Result<std::optional<qint64>, StoreError> getIntLocked(const char* key) const;
    Status<StoreError> setStringLocked(const char* key, const QString& value);
    Status<StoreError> setIntLocked(const char* key, qint64 value);
    Result<qint64, StoreError> addClipboardRecordLocked(const ClipboardRecord& record);
    Status<StoreError> trimClipboardHistoryLocked(int limit);
    Result<QList<ClipboardRecord>, StoreError> listClipboardRecordsLocked(int limit) const;

    // Stands in for the serial queue "com.orvane.appstore.db": every caller blocks until
    // its work has run, exactly as with a synchronous dispatch onto that queue.
    // std::mutex rather than QMutex so that thread sanitizers see the ordering.
    mutable std::mutex dbQueue_;
    sqlite3* db_ = nullptr; // open for the object's whole life; guarded by dbQueue_
    Clock nowMs_;
    std::optional<QString> damagedCopy_; // set once, before the store is handed out
};

} // namespace orvane
