#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

namespace orvane {

// One line of the user-visible debug log, with optional extra rows (hex dumps).
struct SerialLogEntry {
    QUuid id;
    QDateTime timestamp;
    QString direction; // "RX", "TX", "BT RX", "BT TX", "SYS", "WRN" or "ERR"
    QString summary;
    QStringList hexRows;

    // A new entry with a fresh id, stamped now.
    static SerialLogEntry make(const QString& direction, const QString& summary,
                               const QStringList& hexRows = {});

    // "<HH:mm:ss.SSS local> <direction> <summary>", then each hex row on its own line, every
    // line terminated by "\n".
    QString rendered() const;

    friend bool operator==(const SerialLogEntry&, const SerialLogEntry&) = default;
};

} // namespace orvane

// Every member is relocatable, so a growing log moves its entries with one block copy
// instead of one by one.
Q_DECLARE_TYPEINFO(orvane::SerialLogEntry, Q_RELOCATABLE_TYPE);
