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
                     if (!added.rowID) {
                         emit settled(localID, localID);
                         return;
                     }
                     if (deleted) {
                         history_.remove(*added.rowID);
                         emit settled(localID, localID);
                         return;
                     }
                     clipboard_.noteStored(localID, *added.rowID);
                     emit clipboardChanged();
                     emit settled(localID, *added.rowID);
                 });
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
