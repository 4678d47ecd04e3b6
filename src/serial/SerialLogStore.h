#pragma once

#include "serial/SerialLogEntry.h"

#include <QList>
#include <QObject>
#include <QString>

namespace orvane {

// The debug log the user sees: the entries since the last clear, and the same content as
// one plain text that grows by deltas so a view can append instead of redrawing. Beyond
// maximumEntries the oldest entries and their text are dropped without an event (views
// keep what they were sent), so a program left running for days with the log on stays
// bounded; the log file is a separate record.
// Main thread only.
class SerialLogStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasLogs READ hasLogs NOTIFY hasLogsChanged)

public:
    // About 80 MB of entries and text: days of ordinary traffic.
    static constexpr qsizetype defaultMaximumEntries = 100000;
    static constexpr qsizetype textSegmentChars = 1 << 16;

    explicit SerialLogStore(QObject* parent = nullptr,
                            qsizetype maximumEntries = defaultMaximumEntries);

    // The most entries kept from now on. Lowering it drops the oldest at once, without an
    // event, as the limit does when reached; raising it keeps what is there.
    void setMaximumEntries(qsizetype maximumEntries);
    qsizetype maximumEntries() const { return maximumEntries_; }

    bool hasLogs() const { return hasLogs_; }
    const QList<SerialLogEntry>& entries() const { return entries_; }
    // Joined on demand and kept until the next change: readers (a new view, the copy
    // action) are rare, appends are not.
    const QString& plainText() const;

    // Adds the entries and emits delta() with their rendering. An empty list does nothing.
    void append(const QList<SerialLogEntry>& entries);
    // Forgets every entry and emits reset("").
    void clear();

signals:
    // `text` was appended to plainText().
    void delta(const QString& text);
    // plainText() was replaced by `text`.
    void reset(const QString& text);
    void hasLogsChanged(bool hasLogs);

private:
    void reserveForMaximum();
    void setHasLogs(bool value);
    void dropOldestEntries();
    void appendText(const QString& text);
    void dropLeadingText(qsizetype length);

    qsizetype maximumEntries_;
    QList<SerialLogEntry> entries_;
    // The length of each entry's rendering in the text, to cut the text with the entries.
    QList<qsizetype> renderedLengths_;
    // The text in pieces of at most textSegmentChars (longer only for a longer delta),
    // each allocated once at its full size: one growing string would be copied whole,
    // onto freshly mapped pages, each time it outgrew its allocation, which under a flood
    // stalled the main thread for tens of milliseconds.
    QList<QString> segments_;
    mutable QString joined_;
    mutable bool joinedValid_ = true;
    bool hasLogs_ = false;
};

} // namespace orvane
