#pragma once

#include "clipboard/ClipboardEntry.h"
#include "storage/HistoryService.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <set>

namespace orvane {

class ClipboardManager;

// Keeps the stored history in step with the one on screen: stores each new entry in the
// background (a recent duplicate is skipped), tells the clipboard manager the row id it got,
// and deletes or clears rows as the user does, an entry deleted before its row was written
// included. Without a store it keeps nothing. Main thread.
class HistoryKeeper : public QObject {
    Q_OBJECT

public:
    HistoryKeeper(HistoryService& history, ClipboardManager& clipboard,
                  std::function<void(const QString& line)> log, QObject* parent = nullptr);

    // Whether there is a store to keep the history in (decided once, at start).
    void setEnabled(bool enabled) { enabled_ = enabled; }

    void store(const ClipboardEntry& entry);
    // Calls `then` with the entry once its storing is over, with its row id then (the local
    // id stays when no row was written: a recent duplicate, a failure); at once when it is
    // not being stored.
    void whenSettled(const ClipboardEntry& entry, std::function<void(const ClipboardEntry&)> then);
    // The entry has left the history on screen.
    void remove(qint64 id);
    void clear();

signals:
    // The clipboard manager's state changed (an entry got its row id).
    void clipboardChanged();

private:
    HistoryService& history_;
    ClipboardManager& clipboard_;
    std::function<void(const QString&)> log_;
    bool enabled_ = false;
    // Local ids of entries whose row is still being written, and those of them deleted
    // meanwhile: their row goes once its id is known.
    std::set<qint64> unstoredIDs_;
    std::set<qint64> deletedBeforeStored_;
    struct Waiting {
        ClipboardEntry entry;
        std::function<void(const ClipboardEntry&)> then;
    };
    std::map<qint64, Waiting> waiting_; // by local id
};

} // namespace orvane
