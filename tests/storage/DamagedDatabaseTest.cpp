// A store file that SQLite finds damaged is moved aside and replaced; one that merely cannot
// be opened is left alone.
#include "storage/DamagedDatabase.h"

#include "storage/AppStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvane;

namespace {

constexpr qint64 kNowMs = 1'765'203'300'000;

bool writeFile(const QString& path, const QByteArray& content, qint64 offset = 0) {
    QFile file(path);
    if (!file.open(offset ? QIODevice::ReadWrite : QIODevice::WriteOnly) || !file.seek(offset))
        return false;
    return file.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class DamagedDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString dbPath() const { return dir.filePath(QStringLiteral("data.db")); }

    Result<std::unique_ptr<AppStore>, StoreError> openOrRecover() {
        return AppStore::openOrRecover(dbPath(), [] { return kNowMs; });
    }

    QTemporaryDir dir;
};

TEST_F(DamagedDatabaseTest, GarbageMovesAsideAndAFreshStoreTakesOver) {
    ASSERT_TRUE(writeFile(dbPath(), QByteArray(4096, 'x')));
    ASSERT_TRUE(writeFile(dbPath() + "-wal", "stale log"));
    ASSERT_TRUE(writeFile(dbPath() + "-shm", "stale index"));
    ASSERT_TRUE(writeFile(dbPath() + "-journal", "stale journal"));

    auto store = openOrRecover();
    ASSERT_TRUE(store) << store.error().description().toStdString();
    const QString aside = DamagedDatabase::asideName(dbPath(), kNowMs);
    EXPECT_TRUE(aside.endsWith(QStringLiteral("data.db.damaged-") +
                               QDateTime::fromMSecsSinceEpoch(kNowMs).toString("yyyyMMdd-HHmmss")));
    ASSERT_EQ((*store)->damagedCopy(), aside);
    EXPECT_EQ(readFile(aside), QByteArray(4096, 'x'));
    // SQLite itself drops companions it cannot use; whatever it leaves goes aside too.
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        EXPECT_FALSE(readFile(dbPath() + suffix).startsWith("stale")) << suffix;

    AppSettings settings;
    settings.serialPort = QStringLiteral("/dev/ttyACM0");
    ASSERT_TRUE((*store)->saveSettings(settings));
    EXPECT_EQ((*store)->getSettings()->serialPort, settings.serialPort);
    store.value().reset();

    // Damaged again within the same second: the earlier copy is never overwritten.
    ASSERT_TRUE(writeFile(dbPath(), QByteArray(4096, 'y')));
    auto second = openOrRecover();
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)->damagedCopy(), aside + "-2");
    EXPECT_EQ(readFile(aside), QByteArray(4096, 'x'));
    EXPECT_EQ(readFile(aside + "-2"), QByteArray(4096, 'y'));
}

TEST_F(DamagedDatabaseTest, CompanionsMoveUnderTheCopysNameAndNothingIsOverwritten) {
    ASSERT_TRUE(writeFile(dbPath(), "db"));
    ASSERT_TRUE(writeFile(dbPath() + "-wal", "log"));
    ASSERT_TRUE(writeFile(dbPath() + "-shm", "index"));
    ASSERT_TRUE(writeFile(dbPath() + "-journal", "journal"));
    auto moved = DamagedDatabase::moveAside(dbPath(), kNowMs);
    ASSERT_TRUE(moved);
    EXPECT_EQ(readFile(*moved), "db");
    EXPECT_EQ(readFile(*moved + "-wal"), "log");
    EXPECT_EQ(readFile(*moved + "-shm"), "index");
    EXPECT_EQ(readFile(*moved + "-journal"), "journal");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);

    // A name taken by a companion of an earlier copy counts as taken.
    ASSERT_TRUE(writeFile(dbPath(), "db2"));
    ASSERT_TRUE(QFile::remove(*moved));
    auto second = DamagedDatabase::moveAside(dbPath(), kNowMs);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *moved + "-2");
    EXPECT_EQ(readFile(*moved + "-wal"), "log");

    EXPECT_FALSE(DamagedDatabase::moveAside(dir.filePath("absent.db"), kNowMs));
}

TEST_F(DamagedDatabaseTest, DamageFirstSeenWhenReadingTheSettingsAlsoRecovers) {
    {
        auto store = AppStore::open(dbPath());
        ASSERT_TRUE(store);
        ASSERT_TRUE((*store)->saveSettings(AppSettings()));
    }
    // The schema on the first page stays readable; the tables' pages behind it do not.
    const qint64 size = QFileInfo(dbPath()).size();
    ASSERT_GT(size, 4096);
    ASSERT_TRUE(writeFile(dbPath(), QByteArray(size - 4096, char(0xA5)), 4096));
    ASSERT_TRUE(AppStore::open(dbPath())); // opening alone does not notice

    auto store = openOrRecover();
    ASSERT_TRUE(store) << store.error().description().toStdString();
    EXPECT_TRUE((*store)->damagedCopy());
    EXPECT_TRUE((*store)->getSettings());
}

// Permissions bind only a user other than root: as root the check runs in a child that
// has become "nobody".
TEST_F(DamagedDatabaseTest, NoPermissionIsNoDamage) {
    // A garbage file that the user may not read, in a directory the user may write to:
    // moving it would be possible, and wrong.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    const QString readOnly = dir.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("readonly")));
    ASSERT_TRUE(writeFile(locked + "/data.db", QByteArray(4096, 'x')));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(locked + "/data.db").constData(), 0000), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0555), 0);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        auto unreadable = AppStore::openOrRecover(locked + "/data.db");
        if (unreadable || unreadable.error().isDamagedFile())
            ::_exit(11);
        auto unwritable = AppStore::openOrRecover(readOnly + "/data.db");
        if (unwritable || unwritable.error().isDamagedFile())
            ::_exit(12);
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(QDir(locked).entryList(QDir::Files), QStringList{QStringLiteral("data.db")});
    EXPECT_EQ(readFile(locked + "/data.db"), QByteArray(4096, 'x'));
    EXPECT_TRUE(QDir(readOnly).isEmpty());
}

} // namespace
