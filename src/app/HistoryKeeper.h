#pragma once

#include "clipboard/ClipboardEntry.h"
#include "storage/HistoryService.h"

#include <QObject>
#include <QString>

#include <functional>
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
    // The entry with this local id is being stored; settled() follows.
    bool isStoring(qint64 localID) const { return unstoredIDs_.contains(localID); }
    // The entry has left the history on screen.
    void remove(qint64 id);
    void clear();

signals:
    // The clipboard manager's state changed (an entry got its row id).
    void clipboardChanged();
    // Storing the entry with the local id `localID` is over: `id` is its row id, or the
    // local id still when no row was written (a recent duplicate, a failure).
    void settled(qint64 localID, qint64 id);

private:
    HistoryService& history_;
    ClipboardManager& clipboard_;
    std::function<void(const QString&)> log_;
    bool enabled_ = false;
    // Local ids of entries whose row is still being written, and those of them deleted
    // meanwhile: their row goes once its id is known.
    std::set<qint64> unstoredIDs_;
    std::set<qint64> deletedBeforeStored_;
};

} // namespace orvane
