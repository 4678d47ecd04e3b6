#pragma once

#include "serial/SerialLogEntry.h"

#include <QList>
#include <QObject>
#include <QString>

namespace orvane {

// The debug log the user sees: every entry since the last clear, and the same content as
// one plain text that grows by deltas so a view can append instead of redrawing.
// Main thread only.
class SerialLogStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasLogs READ hasLogs NOTIFY hasLogsChanged)

public:
    explicit SerialLogStore(QObject* parent = nullptr);

    bool hasLogs() const { return hasLogs_; }
    const QList<SerialLogEntry>& entries() const { return entries_; }
    const QString& plainText() const { return plainText_; }

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
    void setHasLogs(bool value);

    QList<SerialLogEntry> entries_;
    QString plainText_;
    bool hasLogs_ = false;
};

} // namespace orvane
