#include "platform/linux/OrvaneBusEntry.h"

#include "clipboard/ClipboardEntry.h"

#include <QDBusMetaType>

namespace orvane {

OrvaneBusEntry OrvaneBusEntry::from(const ClipboardEntry& entry) {
    OrvaneBusEntry out;
    out.id = entry.id;
    out.kind = clipboardKindRawValue(entry.kind);
    switch (entry.kind) {
    case ClipboardKind::text:
        out.text = entry.text;
        break;
    case ClipboardKind::image:
        if (entry.imagePath) {
            out.paths = {*entry.imagePath};
        }
        break;
    case ClipboardKind::files:
        out.paths = entry.files;
        break;
    }
    // As kept: recomputing an image's size would read its file.
    out.size = quint64(std::max<qint64>(entry.dataSize, 0));
    out.time = entry.timestamp;
    return out;
}

ClipboardEntry OrvaneBusEntry::toEntry() const {
    ClipboardEntry entry;
    entry.id = id;
    entry.kind = clipboardKindFromRawValue(kind).value_or(ClipboardKind::text);
    entry.text = text;
    entry.dataSize = qint64(size);
    entry.timestamp = time;
    if (entry.kind == ClipboardKind::image) {
        entry.imagePath = paths.value(0);
    } else if (entry.kind == ClipboardKind::files) {
        entry.files = paths;
        entry.text = paths.join(u'\n');
    }
    return entry;
}

void OrvaneBusEntry::registerType() {
    qDBusRegisterMetaType<OrvaneBusEntry>();
    qDBusRegisterMetaType<OrvaneBusEntries>();
}

QDBusArgument& operator<<(QDBusArgument& out, const OrvaneBusEntry& entry) {
    out.beginStructure();
    out << entry.id << entry.kind << entry.text << entry.paths << entry.size << entry.time;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, OrvaneBusEntry& entry) {
    in.beginStructure();
    in >> entry.id >> entry.kind >> entry.text >> entry.paths >> entry.size >> entry.time;
    in.endStructure();
    return in;
}

} // namespace orvane
