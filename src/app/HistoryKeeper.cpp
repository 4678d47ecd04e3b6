#include "app/HistoryKeeper.h"

#include "clipboard/ClipboardManager.h"

#include <QThread>

namespace orvane {

HistoryKeeper::HistoryKeeper(HistoryService& history, ClipboardManager& clipboard,
                             std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent)
    , history_(history)
    , clipboard_(clipboard)
    , log_(std::move(log)) {}

void HistoryKeeper::store(const ClipboardEntry& entry) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (!enabled_) {
        return;
    }
    const qint64 localID = entry.id;
    unstoredIDs_.insert(localID);
    history_.add(entry, HistoryService::Duplicates::skipRecent, this,
                 [this, localID](const HistoryService::Added& added) {
                     unstoredIDs_.erase(localID);
                     const bool deleted = deletedBeforeStored_.erase(localID) > 0;
                     if (!added.failure.isEmpty()) {
                         log_(added.failure);
                     }
                     qint64 id = localID;
                     if (added.rowID && deleted) {
                         history_.remove(*added.rowID);
                     } else if (added.rowID) {
                         id = *added.rowID;
                         clipboard_.noteStored(localID, id);
                         emit clipboardChanged();
                     }
                     if (auto waiting = waiting_.extract(localID); !waiting.empty()) {
                         waiting.mapped().entry.id = id;
                         waiting.mapped().then(waiting.mapped().entry);
                     }
                 });
}

void HistoryKeeper::whenSettled(const ClipboardEntry& entry,
                                std::function<void(const ClipboardEntry&)> then) {
    if (unstoredIDs_.contains(entry.id)) {
        waiting_.insert_or_assign(entry.id, Waiting{entry, std::move(then)});
    } else {
        then(entry);
    }
}

void HistoryKeeper::remove(qint64 id) {
    if (unstoredIDs_.contains(id)) {
        deletedBeforeStored_.insert(id);
    } else {
        history_.remove(id);
    }
}

void HistoryKeeper::clear() {
    history_.clear();
}

} // namespace orvane
