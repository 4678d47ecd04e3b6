#include "serial/SerialLogEntry.h"

namespace orvane {

SerialLogEntry SerialLogEntry::make(const QString& direction, const QString& summary,
                                    const QStringList& hexRows) {
    return SerialLogEntry{QUuid::createUuid(), QDateTime::currentDateTime(), direction, summary,
                          hexRows};
}

QString SerialLogEntry::rendered() const {
    // Qt spells three-digit milliseconds "zzz".
    QString text = timestamp.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")) + u' ' +
                   direction + u' ' + summary + u'\n';
    for (const QString& row : hexRows) {
        text += row;
        text += u'\n';
    }
    return text;
}

} // namespace orvane
