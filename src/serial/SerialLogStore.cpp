#include "serial/SerialLogStore.h"

#include <QThread>

#include <algorithm>

namespace orvane {

SerialLogStore::SerialLogStore(QObject* parent, qsizetype maximumEntries)
    : QObject(parent)
    , maximumEntries_(maximumEntries) {
    Q_ASSERT(maximumEntries_ > 0);
    reserveForMaximum();
}

void SerialLogStore::reserveForMaximum() {
    // Room for the most the store ever holds, taken once while it is cheap: grown by
    // doubling under a flood, the lists were copied whole onto fresh pages, a stall of
    // milliseconds each time. Pages not yet written cost no memory.
    const qsizetype most = maximumEntries_ + maximumEntries_ / 10;
    entries_.reserve(most);
    renderedLengths_.reserve(most);
}

void SerialLogStore::setMaximumEntries(qsizetype maximumEntries) {
    Q_ASSERT(QThread::currentThread() == thread());
    Q_ASSERT(maximumEntries > 0);
    const bool lowered = maximumEntries < maximumEntries_;
    maximumEntries_ = maximumEntries;
    dropOldestEntries();
    if (lowered) {
        // Give back the pages a larger log wrote to.
        entries_.squeeze();
        renderedLengths_.squeeze();
        segments_.squeeze();
    }
    reserveForMaximum();
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
    appendText(text);
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
    dropLeadingText(length);
}

void SerialLogStore::appendText(const QString& text) {
    joinedValid_ = false;
    joined_ = QString();
    if (segments_.isEmpty() || segments_.back().size() + text.size() > textSegmentChars) {
        QString segment;
        segment.reserve(std::max(textSegmentChars, text.size()));
        segments_.append(segment);
    }
    segments_.back() += text;
}

void SerialLogStore::dropLeadingText(qsizetype length) {
    joinedValid_ = false;
    joined_ = QString();
    qsizetype whole = 0;
    while (whole < segments_.size() && segments_[whole].size() <= length) {
        length -= segments_[whole].size();
        ++whole;
    }
    segments_.remove(0, whole);
    if (length > 0 && !segments_.isEmpty()) {
        // Within one segment: its allocation stays and takes later appends if it is the last.
        segments_.front().remove(0, length);
    }
}

const QString& SerialLogStore::plainText() const {
    if (!joinedValid_) {
        qsizetype size = 0;
        for (const QString& segment : segments_) {
            size += segment.size();
        }
        joined_.reserve(size);
        for (const QString& segment : segments_) {
            joined_ += segment;
        }
        joinedValid_ = true;
    }
    return joined_;
}

void SerialLogStore::clear() {
    entries_.clear();
    renderedLengths_.clear();
    segments_.clear();
    joined_ = QString();
    joinedValid_ = true;
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
