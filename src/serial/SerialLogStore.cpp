#include "serial/SerialLogStore.h"

namespace orvane {

SerialLogStore::SerialLogStore(QObject* parent)
    : QObject(parent) {}

void SerialLogStore::append(const QList<SerialLogEntry>& entries) {
    if (entries.isEmpty()) {
        return;
    }
    QString text;
    for (const SerialLogEntry& entry : entries) {
        text += entry.rendered();
    }
    entries_ += entries;
    plainText_ += text;
    emit delta(text);
    setHasLogs(!entries_.isEmpty());
}

void SerialLogStore::clear() {
    entries_.clear();
    plainText_.clear();
    emit reset(QString());
    setHasLogs(false);
}

void SerialLogStore::setHasLogs(bool value) {
    if (hasLogs_ == value) {
        return;
    }
    hasLogs_ = value;
    emit hasLogsChanged(value);
}

} // namespace orvane
