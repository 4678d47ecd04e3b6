#pragma once

#include "common/Result.h"
#include "storage/StoreError.h"

#include <QString>

namespace orvane {

// Keeps a database file that SQLite found damaged for later inspection while the program
// starts over with an empty one.
namespace DamagedDatabase {

// The name the damaged file gets: "<databasePath>.damaged-<yyyyMMdd-HHmmss>" in local
// time, so that several of them sort by age.
QString asideName(const QString& databasePath, qint64 nowMs);

// Moves the database and its companions (-journal, -wal, -shm) to asideName(...), the
// companions keeping their SQLite suffixes so that the moved set opens as one database.
// Nothing is deleted and nothing is overwritten: a name already taken gets "-2", "-3"...
// The companions go first, so that however far it gets a fresh database never meets a
// log left over from the damaged one. Returns the path the database file was moved to.
Result<QString, StoreError> moveAside(const QString& databasePath, qint64 nowMs);

} // namespace DamagedDatabase

} // namespace orvane
