#include "storage/AppStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <sqlite3.h>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

// A second, independent connection to the same file: what the store wrote, seen without
// the store, and rows the store itself would never write.
class RawDb {
public:
    explicit RawDb(const QString& path) {
        if (sqlite3_open(QFile::encodeName(path).constData(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "raw open failed: " << sqlite3_errmsg(db_);
    }
    ~RawDb() { sqlite3_close(db_); }

    void exec(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK)
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
        sqlite3_free(error);
    }

    // The first column of the first row, or "<none>" / "<null>".
    QString scalar(const QString& sql) {
        sqlite3_stmt* stmt = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db_, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << utf8.constData() << ": " << sqlite3_errmsg(db_);
            return QString();
        }
        QString value = QStringLiteral("<none>");
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            value = text ? QString::fromUtf8(text) : QStringLiteral("<null>");
        }
        sqlite3_finalize(stmt);
        return value;
    }

    QString setting(const char* key) {
        return scalar(
            QStringLiteral("SELECT value FROM settings WHERE key = '%1';").arg(QLatin1String(key)));
    }

    void setSetting(const char* key, const char* value) {
        exec(QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES('%1', '%2');")
                 .arg(QLatin1String(key), QLatin1String(value))
                 .toUtf8()
                 .constData());
    }

private:
    sqlite3* db_ = nullptr;
};

QString textFingerprint(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(("text\n" + text).toUtf8(), QCryptographicHash::Sha256).toHex());
}

ClipboardRecord textRecord(const QString& text, qint64 createdAt) {
    ClipboardRecord r;
    r.kind = QStringLiteral("text");
    r.text = text;
    r.createdAt = createdAt;
    return r;
}

// Puts XDG_DATA_HOME back as it was, whichever way the test ends.
struct DataHomeGuard {
    DataHomeGuard()
        : wasSet(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
        , saved(qgetenv("XDG_DATA_HOME")) {}
    ~DataHomeGuard() {
        if (wasSet)
            qputenv("XDG_DATA_HOME", saved);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    bool wasSet;
    QByteArray saved;
};

class AppStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString dbPath() const { return dir.filePath(QStringLiteral("data.db")); }

    std::unique_ptr<AppStore> openStore() {
        auto opened = AppStore::open(dbPath(), [this] { return now.load(); });
        if (!opened) {
            ADD_FAILURE() << "open: " << opened.error().description().toStdString();
            return nullptr;
        }
        return std::move(opened).value();
    }

    QList<qint64> listedIds(AppStore& store, int limit = 100) {
        QList<qint64> ids;
        auto records = store.listClipboardRecords(limit);
        EXPECT_TRUE(records.ok());
        if (records)
            for (const ClipboardRecord& r : *records)
                ids.append(r.id);
        return ids;
    }

    QTemporaryDir dir;
    std::atomic<qint64> now{1'700'000'000'000};
};

TEST_F(AppStoreTest, FreshDatabaseReadsDefaultsWithDebugLogOff) {
    auto store = openStore();
    ASSERT_TRUE(store);
    auto settings = store->getSettings();
    ASSERT_TRUE(settings.ok());
    EXPECT_EQ(*settings, (AppSettings{QString(), 2000000, false, false, QString(), QString()}));
    EXPECT_FALSE(store->hasSerialPort().value());
    EXPECT_FALSE(store->hasBluetoothDevice().value());
    EXPECT_TRUE(store->listClipboardRecords(30).value().isEmpty());
    EXPECT_TRUE(QFile::exists(dbPath()));
}

TEST_F(AppStoreTest, ALocalStoreWritesAheadANetworkOneKeepsItsJournal) {
    {
        auto store = openStore();
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->addClipboardRecord(textRecord(QStringLiteral("a"), 1)).ok());
    }
    // The mode is kept in the file: a connection of its own sees it.
    EXPECT_EQ(RawDb(dbPath()).scalar(QStringLiteral("PRAGMA journal_mode;")),
              QStringLiteral("wal"));
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p"})
        EXPECT_TRUE(AppStore::isNetworkFileSystem(type)) << type;
    for (const char* type : {"ext4", "btrfs", "xfs", "tmpfs", "overlay", "nfsd", ""})
        EXPECT_FALSE(AppStore::isNetworkFileSystem(type)) << type;
}

TEST_F(AppStoreTest, SettingsAreStoredAsTextAndSurviveReopening) {
    // Quotes and SQL in the values must come back byte for byte.
    const AppSettings saved{QStringLiteral("/dev/tty'USB0"),
                            115200,
                            true,
                            true,
                            QStringLiteral("AA:BB:CC:DD:EE:FF"),
                            QStringLiteral("O'Neil's'); DROP TABLE settings; --")};
    {
        auto store = openStore();
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->saveSettings(saved).ok());
        EXPECT_EQ(store->getSettings().value(), saved);
        EXPECT_TRUE(store->hasSerialPort().value());
        EXPECT_TRUE(store->hasBluetoothDevice().value());
    }
    RawDb raw(dbPath());
    EXPECT_EQ(raw.setting("serial_port"), QStringLiteral("/dev/tty'USB0"));
    EXPECT_EQ(raw.setting("baud_rate"), QStringLiteral("115200"));
    EXPECT_EQ(raw.setting("autostart"), QStringLiteral("1"));
    EXPECT_EQ(raw.setting("serial_debug_log"), QStringLiteral("1"));

    auto reopened = openStore();
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->getSettings().value(), saved);

    AppSettings cleared = saved;
    cleared.autostart = false;
    cleared.serialDebugLogEnabled = false;
    cleared.serialPort.clear();
    ASSERT_TRUE(reopened->saveSettings(cleared).ok());
    EXPECT_EQ(raw.setting("autostart"), QStringLiteral("0"));
    EXPECT_EQ(reopened->getSettings().value(), cleared);
    EXPECT_FALSE(reopened->hasSerialPort().value());
}

TEST_F(AppStoreTest, StoredIntegersAreUsedOnlyWhenWellFormed) {
    auto store = openStore();
    ASSERT_TRUE(store);
    RawDb raw(dbPath());
    const std::pair<const char*, qint64> baudCases[] = {
        {"0", 2000000},
        {"-5", 2000000},
        {"abc", 2000000},
        {"", 2000000},
        {"115200", 115200},
        {"+9600", 9600},
        {"1", 1},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"9223372036854775808", 2000000},
        {"-9223372036854775809", 2000000},
        {" 9600", 2000000},
        {"9600 ", 2000000},
        {"96 00", 2000000},
        {"+", 2000000},
        {"-", 2000000},
        {"+-5", 2000000},
        {"1e3", 2000000},
        {"0x10", 2000000},
        {"1.0", 2000000},
    };
    for (const auto& [stored, expected] : baudCases) {
        SCOPED_TRACE(stored);
        raw.setSetting("baud_rate", stored);
        EXPECT_EQ(store->getSettings().value().baudRate, expected);
    }

    const std::pair<const char*, bool> flagCases[] = {
        {"1", true},    {"2", true}, {"-1", true},    {"0", false},
        {"abc", false}, {"", false}, {"true", false},
    };
    for (const auto& [stored, expected] : flagCases) {
        SCOPED_TRACE(stored);
        raw.setSetting("autostart", stored);
        raw.setSetting("serial_debug_log", stored);
        const AppSettings settings = store->getSettings().value();
        EXPECT_EQ(settings.autostart, expected);
        EXPECT_EQ(settings.serialDebugLogEnabled, expected);
    }
}

TEST_F(AppStoreTest, EmptyOrNullStoredValuesCountAsUnset) {
    {
        // A table from elsewhere that allows NULL values; the store keeps an existing table.
        RawDb raw(dbPath());
        raw.exec("CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT);");
        raw.exec("INSERT INTO settings VALUES('serial_port', NULL), ('baud_rate', NULL),"
                 " ('bluetooth_device_id', ''), ('bluetooth_device_name', NULL);");
    }
    auto store = openStore();
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->hasSerialPort().value());
    EXPECT_FALSE(store->hasBluetoothDevice().value());
    EXPECT_EQ(store->getSettings().value(),
              (AppSettings{QString(), 2000000, false, false, QString(), QString()}));

    RawDb raw(dbPath());
    raw.setSetting("serial_port", "");
    EXPECT_FALSE(store->hasSerialPort().value());
    raw.setSetting("serial_port", "/dev/ttyACM0");
    EXPECT_TRUE(store->hasSerialPort().value());
}

TEST_F(AppStoreTest, FailedSaveKeepsTheKeysWrittenBeforeIt) {
    auto store = openStore();
    ASSERT_TRUE(store);
    RawDb raw(dbPath());
    raw.exec("CREATE TRIGGER no_autostart BEFORE INSERT ON settings WHEN NEW.key = 'autostart'"
             " BEGIN SELECT RAISE(ABORT, 'autostart is locked'); END;");
    const AppSettings s{QStringLiteral("/dev/ttyACM0"), 9600, true, true, QStringLiteral("id"),
                        QStringLiteral("name")};
    auto saved = store->saveSettings(s);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error(), StoreError::message(QStringLiteral("autostart is locked")));
    EXPECT_EQ(raw.setting("serial_port"), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(raw.setting("baud_rate"), QStringLiteral("9600"));
    EXPECT_EQ(raw.setting("autostart"), QStringLiteral("<none>"));
    EXPECT_EQ(raw.setting("serial_debug_log"), QStringLiteral("<none>"));
    EXPECT_EQ(raw.setting("bluetooth_device_id"), QStringLiteral("<none>"));
}

TEST_F(AppStoreTest, RecordsRoundTripWithNewIds) {
    auto store = openStore();
    ASSERT_TRUE(store);
    ClipboardRecord files;
    files.id = 999; // ignored: the database assigns ids
    files.kind = QStringLiteral("files");
    files.text = QStringLiteral("/tmp/é\n/tmp/b");
    files.filesJSON = QStringLiteral(R"(["/tmp/é","/tmp/b"])");
    files.createdAt = -5;
    ClipboardRecord withNul = textRecord(QStringLiteral("a") + QChar(0) + QStringLiteral("b"), 7);
    ClipboardRecord empty = textRecord(QString(), 8);
    ClipboardRecord image;
    image.kind = QStringLiteral("image");
    image.text = QStringLiteral("[截图]");
    image.imagePath = QStringLiteral("/data/clipboard_images/1.png");
    image.createdAt = 9;

    QList<ClipboardRecord> expected;
    for (ClipboardRecord r : {files, withNul, empty, image}) {
        auto id = store->addClipboardRecord(r);
        ASSERT_TRUE(id.ok());
        r.id = *id;
        expected.prepend(r);
    }
    EXPECT_EQ(expected.last().id, 1);
    EXPECT_EQ(store->listClipboardRecords(30).value(), expected);
}

TEST_F(AppStoreTest, HistoryKeepsTheNewestThirtyWithTiesByLargerId) {
    auto store = openStore();
    ASSERT_TRUE(store);
    QList<qint64> ids;
    for (int i = 0; i < 31; ++i)
        ids.append(store->addClipboardRecord(textRecord(QString::number(i), 1000)).value());
    const QList<qint64> expected(ids.rbegin(), ids.rend() - 1); // all but the first
    EXPECT_EQ(listedIds(*store), expected);

    // Creation time outranks insertion order: a late row with an old time is the one to go.
    const qint64 late = store->addClipboardRecord(textRecord(QStringLiteral("old"), 999)).value();
    EXPECT_FALSE(listedIds(*store).contains(late));
    const qint64 newest =
        store->addClipboardRecord(textRecord(QStringLiteral("new"), 5000)).value();
    const QList<qint64> after = listedIds(*store);
    ASSERT_EQ(after.size(), 30);
    EXPECT_EQ(after.first(), newest);
    EXPECT_FALSE(after.contains(ids[1]));
}

TEST_F(AppStoreTest, ListingHonoursTheLimit) {
    auto store = openStore();
    ASSERT_TRUE(store);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(store->addClipboardRecord(textRecord(QString::number(i), 100 + i)).ok());
    EXPECT_TRUE(store->listClipboardRecords(0).value().isEmpty());
    EXPECT_EQ(listedIds(*store, 2), (QList<qint64>{3, 2}));
    EXPECT_EQ(listedIds(*store, -1), (QList<qint64>{3, 2, 1}));
}

TEST_F(AppStoreTest, DeleteAndClear) {
    auto store = openStore();
    ASSERT_TRUE(store);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(store->addClipboardRecord(textRecord(QString::number(i), 100 + i)).ok());
    ASSERT_TRUE(store->deleteClipboardRecord(2).ok());
    EXPECT_EQ(listedIds(*store), (QList<qint64>{3, 1}));
    EXPECT_TRUE(store->deleteClipboardRecord(42).ok());
    ASSERT_TRUE(store->clearClipboardRecords().ok());
    EXPECT_TRUE(listedIds(*store).isEmpty());
    // Ids are never handed out twice, even after clearing.
    EXPECT_EQ(store->addClipboardRecord(textRecord(QStringLiteral("x"), 1)).value(), 4);
}

TEST_F(AppStoreTest, RecentDuplicateLooksAtTheFiveNewestRowsInsideTheWindow) {
    auto store = openStore();
    ASSERT_TRUE(store);
    now = 10'000;
    const QString dup = textFingerprint(QStringLiteral("dup"));
    EXPECT_FALSE(store->hasRecentClipboardRecord(dup, 1500).value());

    const qint64 dupId = store->addClipboardRecord(textRecord(QStringLiteral("dup"), 8500)).value();
    EXPECT_TRUE(store->hasRecentClipboardRecord(dup, 1500).value()); // exactly at the cutoff
    EXPECT_FALSE(store->hasRecentClipboardRecord(dup, 1499).value());
    EXPECT_FALSE(
        store->hasRecentClipboardRecord(textFingerprint(QStringLiteral("dup ")), 1500).value());
    now = 10'001;
    EXPECT_FALSE(store->hasRecentClipboardRecord(dup, 1500).value());
    EXPECT_TRUE(store->hasRecentClipboardRecord(dup, std::numeric_limits<qint64>::max()).value());
    EXPECT_FALSE(store->hasRecentClipboardRecord(dup, std::numeric_limits<qint64>::min()).value());

    now = 10'000;
    std::vector<qint64> newer;
    for (int i = 0; i < 5; ++i)
        newer.push_back(
            store->addClipboardRecord(textRecord(QString::number(i), 9000 + i)).value());
    // Sixth newest: recent, but beyond the rows the check reads.
    EXPECT_FALSE(store->hasRecentClipboardRecord(dup, 1500).value());
    ASSERT_TRUE(store->deleteClipboardRecord(newer.front()).ok());
    EXPECT_TRUE(store->hasRecentClipboardRecord(dup, 1500).value());
    ASSERT_TRUE(store->deleteClipboardRecord(dupId).ok());

    // A row of unknown kind is fingerprinted as text.
    ClipboardRecord odd = textRecord(QStringLiteral("dup"), 9999);
    odd.kind = QStringLiteral("sticker");
    ASSERT_TRUE(store->addClipboardRecord(odd).ok());
    EXPECT_TRUE(store->hasRecentClipboardRecord(dup, 1500).value());
}

TEST_F(AppStoreTest, MalformedRowsLoadWithoutFailing) {
    {
        // A history table that lets every column be NULL.
        RawDb raw(dbPath());
        raw.exec("CREATE TABLE clipboard_history (id INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT,"
                 " created_at INTEGER, kind TEXT, files_json TEXT, image_path TEXT);");
        raw.exec("INSERT INTO clipboard_history(id, kind, text, files_json, image_path, created_at)"
                 " VALUES (1, NULL, NULL, NULL, NULL, NULL),"
                 " (2, 'files', 'x', '[not json', '', 5),"
                 " (3, 'files', 'y', '{\"a\": [1, 2]}', '', 6),"
                 " (4, 'image', '[截图]', '', '/nonexistent/1.png', 7),"
                 " (5, 'bogus', X'FF00FE', NULL, NULL, 'soon');");
    }
    auto store = openStore();
    ASSERT_TRUE(store);
    auto records = store->listClipboardRecords(30);
    ASSERT_TRUE(records.ok());
    ASSERT_EQ(records->size(), 5);
    const ClipboardRecord& allNull = records->last();
    EXPECT_EQ(allNull, (ClipboardRecord{1, QString(), QString(), QString(), QString(), 0}));
    // A text in created_at sorts above every number and reads as 0.
    const ClipboardRecord& oddTime = records->first();
    EXPECT_EQ(oddTime.id, 5);
    EXPECT_EQ(oddTime.kind, QStringLiteral("bogus"));
    EXPECT_EQ(oddTime.createdAt, 0);
    EXPECT_EQ(oddTime.text.size(), 3); // invalid UTF-8 replaced, the zero byte kept
    EXPECT_EQ(records->at(1).id, 4);
    now = 8;
    // Fingerprinting these rows must not trip over them.
    EXPECT_FALSE(
        store->hasRecentClipboardRecord(textFingerprint(QStringLiteral("z")), 100).value());
    EXPECT_TRUE(store->addClipboardRecord(textRecord(QStringLiteral("fine"), 9)).ok());
}

TEST_F(AppStoreTest, FileThatIsNotADatabaseFailsToOpen) {
    QFile file(dbPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    auto opened = AppStore::open(dbPath());
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().code(), StoreError::Code::message);
    EXPECT_TRUE(opened.error().text().contains(QStringLiteral("not a database")))
        << opened.error().text().toStdString();
    EXPECT_EQ(file.size(), 4096); // left as it was
}

TEST_F(AppStoreTest, UnusablePathsFailToOpen) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("data.db")));
    auto directory = AppStore::open(dbPath());
    ASSERT_FALSE(directory.ok());
    EXPECT_FALSE(directory.error().description().isEmpty());

    auto missingParent = AppStore::open(dir.filePath(QStringLiteral("no/such/dir/data.db")));
    ASSERT_FALSE(missingParent.ok());
    EXPECT_EQ(missingParent.error(), StoreError::openFailed());
    EXPECT_EQ(missingParent.error().description(), QStringLiteral("无法打开数据库"));
}

TEST_F(AppStoreTest, DefaultLocationIsInTheApplicationDataDirectory) {
    const DataHomeGuard guard;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("xdg"))));
    {
        auto store = AppStore::open();
        ASSERT_TRUE(store.ok()) << store.error().description().toStdString();
        ASSERT_TRUE((*store)->saveSettings(AppSettings()).ok());
    }
    EXPECT_EQ(RawDb(dir.filePath(QStringLiteral("xdg/Orvane/data.db"))).setting("baud_rate"),
              QStringLiteral("2000000"));

    // A data directory that cannot be made is reported with its reason.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
    auto blocked = AppStore::open();
    ASSERT_FALSE(blocked.ok());
    EXPECT_EQ(blocked.error().code(), StoreError::Code::message);
    EXPECT_FALSE(blocked.error().text().isEmpty());
}

TEST_F(AppStoreTest, FailuresAfterOpeningAreReported) {
    auto store = openStore();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->addClipboardRecord(textRecord(QStringLiteral("a"), 1)).ok());
    RawDb raw(dbPath());

    raw.exec("CREATE TRIGGER no_insert BEFORE INSERT ON clipboard_history"
             " BEGIN SELECT RAISE(ABORT, 'read only'); END;");
    EXPECT_EQ(store->addClipboardRecord(textRecord(QStringLiteral("b"), 2)).error(),
              StoreError::execFailed());
    raw.exec("DROP TRIGGER no_insert;");

    // A failing trim fails the insert, though the row itself is in.
    raw.exec("CREATE TRIGGER keep BEFORE DELETE ON clipboard_history"
             " BEGIN SELECT RAISE(ABORT, 'keep history'); END;");
    for (int i = 0; i < 29; ++i)
        ASSERT_TRUE(store->addClipboardRecord(textRecord(QString::number(i), 10 + i)).ok());
    EXPECT_EQ(store->addClipboardRecord(textRecord(QStringLiteral("31st"), 100)).error(),
              StoreError::message(QStringLiteral("keep history")));
    EXPECT_EQ(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM clipboard_history;")),
              QStringLiteral("31"));
    EXPECT_EQ(store->clearClipboardRecords().error(),
              StoreError::message(QStringLiteral("keep history")));

    raw.exec("DROP TABLE clipboard_history;");
    EXPECT_EQ(store->addClipboardRecord(textRecord(QStringLiteral("c"), 3)).error(),
              StoreError::execFailed());
    EXPECT_EQ(store->listClipboardRecords(30).error(), StoreError::execFailed());
    EXPECT_EQ(store->hasRecentClipboardRecord(textFingerprint(QStringLiteral("a")), 10).error(),
              StoreError::execFailed());
    EXPECT_EQ(store->deleteClipboardRecord(1).error(),
              StoreError::message(QStringLiteral("no such table: clipboard_history")));

    raw.exec("DROP TABLE settings;");
    EXPECT_EQ(store->getSettings().error(), StoreError::execFailed());
    EXPECT_EQ(store->hasSerialPort().error(), StoreError::execFailed());
    auto saved = store->saveSettings(AppSettings());
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().code(), StoreError::Code::message);
    EXPECT_TRUE(saved.error().text().contains(QStringLiteral("no such table")));
}

TEST_F(AppStoreTest, ConcurrentCallersAreSerialised) {
    auto store = openStore();
    ASSERT_TRUE(store);
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::vector<std::vector<std::pair<qint64, qint64>>> inserted(kThreads); // createdAt, id
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                // Interleaved creation times, so trimming keeps rows of every thread.
                const qint64 createdAt = 1000 + (i * 7 + t * 13) % 50;
                auto id = store->addClipboardRecord(
                    textRecord(QStringLiteral("t%1-%2").arg(t).arg(i), createdAt));
                if (!id) {
                    ++failures;
                    continue;
                }
                inserted[t].emplace_back(createdAt, *id);
                auto listed = store->listClipboardRecords(30);
                if (!listed || listed->size() > 30)
                    ++failures;
                if (!store->hasRecentClipboardRecord(QStringLiteral("x"), 1500).ok())
                    ++failures;
                if (i % 8 == 0) {
                    AppSettings s;
                    s.baudRate = 1 + t;
                    if (!store->saveSettings(s).ok() || !store->getSettings().ok())
                        ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);

    std::vector<std::pair<qint64, qint64>> all;
    for (const auto& rows : inserted)
        all.insert(all.end(), rows.begin(), rows.end());
    ASSERT_EQ(all.size(), size_t(kThreads * kRounds));
    std::set<qint64> ids;
    for (const auto& row : all)
        ids.insert(row.second);
    EXPECT_EQ(ids.size(), all.size());

    // Whatever the interleaving, what remains is the newest 30 of everything inserted.
    std::sort(all.begin(), all.end(), std::greater<>());
    QList<qint64> expected;
    for (int i = 0; i < 30; ++i)
        expected.append(all[size_t(i)].second);
    EXPECT_EQ(listedIds(*store), expected);
}

} // namespace
