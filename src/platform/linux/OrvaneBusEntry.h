#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace orvane {

struct ClipboardEntry;

// A history entry as the program's bus interface carries it (D-Bus (xssastx)): the id,
// the kind ("text", "image", "files"), the whole text of a text, the files of an image or
// files entry, the size in bytes and the time in milliseconds since the epoch.
struct OrvaneBusEntry {
    qint64 id = 0;
    QString kind;
    QString text;
    QStringList paths;
    quint64 size = 0;
    qint64 time = 0;

    static OrvaneBusEntry from(const ClipboardEntry& entry);
    // The entry back, as a client of the interface sees it: an image's file is its image
    // path, a files entry's text lists its files.
    ClipboardEntry toEntry() const;
    // Once, before the type crosses the bus.
    static void registerType();
};
using OrvaneBusEntries = QList<OrvaneBusEntry>;

QDBusArgument& operator<<(QDBusArgument& out, const OrvaneBusEntry& entry);
const QDBusArgument& operator>>(const QDBusArgument& in, OrvaneBusEntry& entry);

} // namespace orvane

Q_DECLARE_METATYPE(orvane::OrvaneBusEntry)
