#include "serial/SerialLogStore.h"

#include <QThread>

#include <algorithm>

namespace orvane {

SerialLogStore::SerialLogStore(QObject* parent, qsizetype maximumEntries)
    : QObject(parent)
    , maximumEntries_(maximumEntries) {
    Q_ASSERT(maximumEntries_ > 0);
}

void SerialLogStore::append(const QList<SerialLogEntry>& entries) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (entries.isEmpty()) {
        return;
    }
    QString text;
    for (const SerialLogEntry& entry : entries) {
        const QString rendered = entry.rendered();
        renderedLengths_.append(rendered.size());
        text += rendered;
    }
    entries_ += entries;
    plainText_ += text;
    dropOldestEntries();
    emit delta(text);
    setHasLogs(!entries_.isEmpty());
}

void SerialLogStore::dropOldestEntries() {
    if (entries_.size() <= maximumEntries_) {
        return;
    }
    // A tenth more than needed, so that the text is moved once per many appends (smaller
    // steps leave the lists' freed fronts unused and hold more memory).
    const qsizetype drop =
        std::min(entries_.size(), entries_.size() - maximumEntries_ + maximumEntries_ / 10);
    qsizetype length = 0;
    for (qsizetype i = 0; i < drop; ++i) {
        length += renderedLengths_[i];
    }
    entries_.remove(0, drop);
    renderedLengths_.remove(0, drop);
    plainText_.remove(0, length);
}

void SerialLogStore::clear() {
    entries_.clear();
    renderedLengths_.clear();
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
