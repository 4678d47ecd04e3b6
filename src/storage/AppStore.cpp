#include "storage/AppStore.h"

#include "storage/AppFiles.h"
#include "storage/DamagedDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <limits>
#include <sqlite3.h>
#include <string_view>

namespace orvane {

namespace {

constexpr char kCreateSettings[] = "CREATE TABLE IF NOT EXISTS settings (\n"
                                   "    key TEXT PRIMARY KEY,\n"
                                   "    value TEXT NOT NULL\n"
                                   ");";

// Column order is historical; every query names its columns.
constexpr char kCreateHistory[] = "CREATE TABLE IF NOT EXISTS clipboard_history (\n"
                                  "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                  "    text TEXT NOT NULL,\n"
                                  "    created_at INTEGER NOT NULL,\n"
                                  "    kind TEXT NOT NULL DEFAULT 'text',\n"
                                  "    files_json TEXT NOT NULL DEFAULT '',\n"
                                  "    image_path TEXT NOT NULL DEFAULT ''\n"
                                  ");";

constexpr char kSelectSetting[] = "SELECT value FROM settings WHERE key = ? LIMIT 1;";

constexpr char kUpsertSetting[] = "INSERT INTO settings(key, value) VALUES(?, ?)\n"
                                  "ON CONFLICT(key) DO UPDATE SET value = excluded.value;";

constexpr char kInsertRecord[] =
    "INSERT INTO clipboard_history(kind, text, files_json, image_path, created_at)\n"
    "VALUES(?, ?, ?, ?, ?);";

constexpr char kSelectRecords[] = "SELECT id, kind, text, files_json, image_path, created_at\n"
                                  "FROM clipboard_history ORDER BY created_at DESC, id DESC "
                                  "LIMIT ?;";

constexpr char kKeySerialPort[] = "serial_port";
constexpr char kKeyBaudRate[] = "baud_rate";
constexpr char kKeyAutostart[] = "autostart";
constexpr char kKeySerialDebugLog[] = "serial_debug_log";
constexpr char kKeyBluetoothDeviceID[] = "bluetooth_device_id";
constexpr char kKeyBluetoothDeviceName[] = "bluetooth_device_name";

// How many of the newest rows the recent-duplicate check looks at.
constexpr int kRecentRowsExamined = 5;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    return Statement(raw);
}

// Binds with an explicit byte length, copied at once, so that a text holding U+0000
// is stored whole instead of being cut short.
bool bindText(sqlite3_stmt* stmt, int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    // A null pointer would bind SQL NULL; an empty text must stay an empty text.
    const char* data = utf8.isNull() ? "" : utf8.constData();
    return sqlite3_bind_text(stmt, index, data, int(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

// A NULL column reads as the empty string.
QString columnText(sqlite3_stmt* stmt, int column) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    if (!data)
        return QString();
    return QString::fromUtf8(data, sqlite3_column_bytes(stmt, column));
}

QString lastErrorText(sqlite3* db) {
    const char* text = sqlite3_errmsg(db);
    return text && *text ? QString::fromUtf8(text) : QStringLiteral("unknown");
}

// A decimal integer with an optional leading sign and nothing else: no blanks, no
// grouping, no exponent. Overflow reads as no value.
std::optional<qint64> parseDecimal(const QString& text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

qint64 saturatingSubtract(qint64 a, qint64 b) {
    qint64 result = 0;
    if (__builtin_sub_overflow(a, b, &result))
        return b > 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return result;
}

} // namespace

template <typename Work>
auto AppStore::sync(Work&& work) const {
    std::lock_guard lock(dbQueue_);
    return work();
}

AppStore::AppStore(Clock nowMs)
    : nowMs_(std::move(nowMs)) {
    if (!nowMs_)
        nowMs_ = [] {
            return QDateTime::currentMSecsSinceEpoch();
        };
}

AppStore::~AppStore() {
    sync([this] {
        // Every statement is finalized where it was prepared, so nothing keeps the
        // connection busy; the result is of no further use here.
        sqlite3_close(db_);
        db_ = nullptr;
    });
}

namespace {

Result<QString, StoreError> defaultDatabasePath() {
    auto dir = AppFiles::appDataDir();
    if (!dir)
        return fail(StoreError::message(dir.error().description()));
    return QDir(*dir).filePath(QStringLiteral("data.db"));
}

} // namespace

Result<std::unique_ptr<AppStore>, StoreError> AppStore::open(Clock nowMs) {
    auto path = defaultDatabasePath();
    if (!path)
        return fail(path.error());
    return open(*path, std::move(nowMs));
}

Result<std::unique_ptr<AppStore>, StoreError> AppStore::open(const QString& databasePath,
                                                             Clock nowMs) {
    std::unique_ptr<AppStore> store(new AppStore(std::move(nowMs)));
    // On failure the half-made store goes away here, and its destructor closes whatever
    // handle SQLite gave out.
    if (auto opened = store->sync([&] { return store->openLocked(databasePath); }); !opened)
        return fail(opened.error());
    return store;
}

Result<std::unique_ptr<AppStore>, StoreError> AppStore::openOrRecover(Clock nowMs) {
    auto path = defaultDatabasePath();
    if (!path)
        return fail(path.error());
    return openOrRecover(*path, std::move(nowMs));
}

Result<std::unique_ptr<AppStore>, StoreError> AppStore::openOrRecover(const QString& databasePath,
                                                                      Clock nowMs) {
    auto opened = open(databasePath, nowMs);
    std::optional<StoreError> damage;
    if (!opened) {
        damage = opened.error();
    } else if (auto read = (*opened)->getSettings(); !read) {
        // Damage deeper in the file may only show once a page is read; the settings are
        // what every start reads first.
        damage = read.error();
    } else {
        return opened;
    }
    if (!damage->isDamagedFile())
        return fail(*damage);
    // The connection lets go of the file before it moves.
    if (opened)
        opened.value().reset();
    const Clock clock = nowMs ? nowMs : [] {
        return QDateTime::currentMSecsSinceEpoch();
    };
    auto moved = DamagedDatabase::moveAside(databasePath, clock());
    if (!moved)
        return fail(*damage);
    auto fresh = open(databasePath, std::move(nowMs));
    if (!fresh)
        return fail(fresh.error());
    (*fresh)->damagedCopy_ = moved.value();
    return fresh;
}

Status<StoreError> AppStore::openLocked(const QString& databasePath) {
    const int rc = sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK)
        return fail(
            StoreError::openFailed().withResultCode(db_ ? sqlite3_extended_errcode(db_) : rc));
    // Extended codes tell a damaged file (SQLITE_CORRUPT_*) from a merely unreadable one.
    sqlite3_extended_result_codes(db_, 1);
    // Opening is lazy: a file that is no database, or cannot be written, shows up here.
    if (auto created = execLocked(kCreateSettings); !created)
        return created;
    if (auto created = execLocked(kCreateHistory); !created)
        return created;
    // With a write-ahead log a commit appends to the log without waiting for the disk; a
    // power cut may lose the last rows, never the file's consistency. A received file's
    // row is written on the main thread while the file's data is still on its way to the
    // disk, and a commit that waited for the disk waited for the file too, stalling the
    // window for milliseconds. The log's shared-memory index needs a local file system;
    // elsewhere the store keeps its rollback journal. A mode that cannot be changed (a
    // read-only file) leaves the store as it was.
    if (!isNetworkFileSystem(
            QStorageInfo(QFileInfo(databasePath).absolutePath()).fileSystemType())) {
        (void)execLocked("PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;");
    }
    return Done{};
}

bool AppStore::isNetworkFileSystem(QByteArrayView type) {
    static constexpr std::string_view network[] = {"nfs",   "nfs4",      "cifs",   "smb3",
                                                   "smbfs", "smb2",      "9p",     "ceph",
                                                   "afs",   "glusterfs", "lustre", "gpfs"};
    const std::string_view name(type.data(), size_t(type.size()));
    if (name.starts_with("fuse")) {
        // sshfs and its kind; a local FUSE file system is rarely a home directory.
        return true;
    }
    return std::find(std::begin(network), std::end(network), name) != std::end(network);
}

Status<StoreError> AppStore::execLocked(const QByteArray& sql) const {
    char* errorText = nullptr;
    const int rc = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, &errorText);
    const QString text =
        errorText && *errorText ? QString::fromUtf8(errorText) : QStringLiteral("unknown");
    sqlite3_free(errorText);
    if (rc != SQLITE_OK)
        return fail(StoreError::message(text).withResultCode(rc));
    return Done{};
}

Result<std::optional<QString>, StoreError> AppStore::getStringLocked(const char* key) const {
    Statement stmt = prepare(db_, kSelectSetting);
    if (!stmt || !bindText(stmt.get(), 1, QString::fromLatin1(key)))
        return fail(StoreError::execFailed().withResultCode(sqlite3_extended_errcode(db_)));
    const int rc = sqlite3_step(stmt.get());
    switch (rc) {
    case SQLITE_ROW:
        return std::optional<QString>(columnText(stmt.get(), 0));
    case SQLITE_DONE:
        return std::optional<QString>();
    default:
        // A read that broke off is not "no value": defaults read here would later be
        // saved over the user's real settings.
        return fail(StoreError::execFailed().withResultCode(rc));
    }
}

Result<std::optional<qint64>, StoreError> AppStore::getIntLocked(const char* key) const {
    auto text = getStringLocked(key);
    if (!text)
        return fail(text.error());
    if (!text->has_value() || (*text)->isEmpty())
        return std::optional<qint64>();
    return parseDecimal(**text);
}

// Bound parameters rather than quoted literals: the stored text is the same, and no
// value can end the literal early.
Status<StoreError> AppStore::setStringLocked(const char* key, const QString& value) {
    Statement stmt = prepare(db_, kUpsertSetting);
    if (!stmt || !bindText(stmt.get(), 1, QString::fromLatin1(key)) ||
        !bindText(stmt.get(), 2, value) || sqlite3_step(stmt.get()) != SQLITE_DONE)
        return fail(
            StoreError::message(lastErrorText(db_)).withResultCode(sqlite3_extended_errcode(db_)));
    return Done{};
}

Status<StoreError> AppStore::setIntLocked(const char* key, qint64 value) {
    return setStringLocked(key, QString::number(value));
}

Result<AppSettings, StoreError> AppStore::getSettings() const {
    return sync([this]() -> Result<AppSettings, StoreError> {
        AppSettings settings;
        auto serialPort = getStringLocked(kKeySerialPort);
        if (!serialPort)
            return fail(serialPort.error());
        settings.serialPort = serialPort->value_or(QString());

        auto baudRate = getIntLocked(kKeyBaudRate);
        if (!baudRate)
            return fail(baudRate.error());
        if (baudRate->has_value() && **baudRate >= 1)
            settings.baudRate = **baudRate;

        auto autostart = getIntLocked(kKeyAutostart);
        if (!autostart)
            return fail(autostart.error());
        settings.autostart = autostart->value_or(0) != 0;

        auto serialDebugLog = getIntLocked(kKeySerialDebugLog);
        if (!serialDebugLog)
            return fail(serialDebugLog.error());
        settings.serialDebugLogEnabled = serialDebugLog->value_or(0) != 0;

        auto deviceID = getStringLocked(kKeyBluetoothDeviceID);
        if (!deviceID)
            return fail(deviceID.error());
        settings.bluetoothDeviceID = deviceID->value_or(QString());

        auto deviceName = getStringLocked(kKeyBluetoothDeviceName);
        if (!deviceName)
            return fail(deviceName.error());
        settings.bluetoothDeviceName = deviceName->value_or(QString());
        return settings;
    });
}

Status<StoreError> AppStore::saveSettings(const AppSettings& settings) {
    return sync([&]() -> Status<StoreError> {
        // No transaction: keys written before a failure stay written.
        if (auto s = setStringLocked(kKeySerialPort, settings.serialPort); !s)
            return s;
        if (auto s = setIntLocked(kKeyBaudRate, settings.baudRate); !s)
            return s;
        if (auto s = setIntLocked(kKeyAutostart, settings.autostart ? 1 : 0); !s)
            return s;
        if (auto s = setIntLocked(kKeySerialDebugLog, settings.serialDebugLogEnabled ? 1 : 0); !s)
            return s;
        if (auto s = setStringLocked(kKeyBluetoothDeviceID, settings.bluetoothDeviceID); !s)
            return s;
        return setStringLocked(kKeyBluetoothDeviceName, settings.bluetoothDeviceName);
    });
}

Result<bool, StoreError> AppStore::hasSerialPort() const {
    return sync([this]() -> Result<bool, StoreError> {
        auto value = getStringLocked(kKeySerialPort);
        if (!value)
            return fail(value.error());
        return value->has_value() && !(*value)->isEmpty();
    });
}

Result<bool, StoreError> AppStore::hasBluetoothDevice() const {
    return sync([this]() -> Result<bool, StoreError> {
        auto value = getStringLocked(kKeyBluetoothDeviceID);
        if (!value)
            return fail(value.error());
        return value->has_value() && !(*value)->isEmpty();
    });
}

Result<qint64, StoreError> AppStore::addClipboardRecord(const ClipboardRecord& record) {
    return sync([&] { return addClipboardRecordLocked(record); });
}

Result<qint64, StoreError> AppStore::addClipboardRecordLocked(const ClipboardRecord& record) {
    Statement stmt = prepare(db_, kInsertRecord);
    if (!stmt)
        return fail(StoreError::execFailed());
    if (!bindText(stmt.get(), 1, record.kind) || !bindText(stmt.get(), 2, record.text) ||
        !bindText(stmt.get(), 3, record.filesJSON) || !bindText(stmt.get(), 4, record.imagePath) ||
        sqlite3_bind_int64(stmt.get(), 5, record.createdAt) != SQLITE_OK)
        return fail(StoreError::execFailed());
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
        return fail(StoreError::execFailed());
    const qint64 id = sqlite3_last_insert_rowid(db_);
    stmt.reset();
    if (auto trimmed = trimClipboardHistoryLocked(historyCapacity); !trimmed)
        return fail(trimmed.error());
    return id;
}

Status<StoreError> AppStore::trimClipboardHistoryLocked(int limit) {
    return execLocked(
        "DELETE FROM clipboard_history WHERE id NOT IN (\n"
        "    SELECT id FROM clipboard_history ORDER BY created_at DESC, id DESC LIMIT " +
        QByteArray::number(limit) + "\n);");
}

Result<QList<ClipboardRecord>, StoreError> AppStore::listClipboardRecords(int limit) const {
    return sync([&] { return listClipboardRecordsLocked(limit); });
}

Result<QList<ClipboardRecord>, StoreError> AppStore::listClipboardRecordsLocked(int limit) const {
    Statement stmt = prepare(db_, kSelectRecords);
    if (!stmt || sqlite3_bind_int(stmt.get(), 1, limit) != SQLITE_OK)
        return fail(StoreError::execFailed());
    QList<ClipboardRecord> records;
    // A step that neither yields a row nor finishes ends the list with what was read.
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        ClipboardRecord record;
        record.id = sqlite3_column_int64(stmt.get(), 0);
        record.kind = columnText(stmt.get(), 1);
        record.text = columnText(stmt.get(), 2);
        record.filesJSON = columnText(stmt.get(), 3);
        record.imagePath = columnText(stmt.get(), 4);
        record.createdAt = sqlite3_column_int64(stmt.get(), 5);
        records.append(std::move(record));
    }
    return records;
}

Status<StoreError> AppStore::deleteClipboardRecord(qint64 id) {
    return sync([&] {
        return execLocked("DELETE FROM clipboard_history WHERE id = " + QByteArray::number(id) +
                          ";");
    });
}

Status<StoreError> AppStore::clearClipboardRecords() {
    return sync([this] { return execLocked("DELETE FROM clipboard_history;"); });
}

Result<QList<ClipboardRecord>, StoreError> AppStore::recentClipboardRecords(qint64 withinMs) const {
    return sync([&]() -> Result<QList<ClipboardRecord>, StoreError> {
        const qint64 cutoff = saturatingSubtract(nowMs_(), withinMs);
        auto newest = listClipboardRecordsLocked(kRecentRowsExamined);
        if (!newest)
            return fail(newest.error());
        QList<ClipboardRecord> recent;
        for (const ClipboardRecord& record : *newest) {
            if (record.createdAt >= cutoff)
                recent.append(record);
        }
        return recent;
    });
}

Result<bool, StoreError> AppStore::hasRecentClipboardRecord(const QString& fingerprint,
                                                            qint64 withinMs) const {
    auto recent = recentClipboardRecords(withinMs);
    if (!recent)
        return fail(recent.error());
    return std::any_of(recent->cbegin(), recent->cend(), [&](const ClipboardRecord& record) {
        return recordFingerprint(record) == fingerprint;
    });
}

} // namespace orvane
