#include "storage/DamagedDatabase.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace orvane {

namespace DamagedDatabase {

namespace {

// Files SQLite keeps beside a database: a rollback journal, or a write-ahead log with its
// index. A log replayed onto a fresh database would write the damaged pages into it.
constexpr std::array<const char*, 3> kCompanions = {"-journal", "-wal", "-shm"};

// Past this many aside copies from one second something else is wrong.
constexpr int kMaxAttempts = 100;

bool exists(const QString& path) {
    // A dangling symbolic link counts as taken too.
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

bool isFree(const QString& aside) {
    if (exists(aside)) {
        return false;
    }
    return std::none_of(kCompanions.begin(), kCompanions.end(),
                        [&](const char* suffix) { return exists(aside + QLatin1String(suffix)); });
}

Status<StoreError> move(const QString& from, const QString& to) {
    QFile file(from);
    if (!file.rename(to)) {
        return fail(StoreError::message(QStringLiteral("无法移走损坏的数据库 %1: %2")
                                            .arg(QFileInfo(from).fileName(), file.errorString())));
    }
    return Done{};
}

} // namespace

QString asideName(const QString& databasePath, qint64 nowMs) {
    return databasePath + QStringLiteral(".damaged-") +
           QDateTime::fromMSecsSinceEpoch(nowMs).toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

Result<QString, StoreError> moveAside(const QString& databasePath, qint64 nowMs) {
    const QString base = asideName(databasePath, nowMs);
    QString aside = base;
    for (int n = 2; !isFree(aside); ++n) {
        if (n > kMaxAttempts) {
            return fail(StoreError::message(QStringLiteral("无法移走损坏的数据库: 名称已被占用")));
        }
        aside = base + QLatin1Char('-') + QString::number(n);
    }
    for (const char* suffix : kCompanions) {
        const QString companion = databasePath + QLatin1String(suffix);
        if (!exists(companion)) {
            continue;
        }
        if (auto moved = move(companion, aside + QLatin1String(suffix)); !moved) {
            return fail(moved.error());
        }
    }
    if (auto moved = move(databasePath, aside); !moved) {
        return fail(moved.error());
    }
    return aside;
}

} // namespace DamagedDatabase

} // namespace orvane
