#include "apps/orvane/StoreHistory.h"

#include "storage/ClipboardRecordMapping.h"
#include "ui/ClipboardPanelView.h"

#include <QDebug>

namespace orvane {

StoreHistory::StoreHistory(std::unique_ptr<AppStore> store, ClipboardPanelView& panel,
                           QObject* parent)
    : QObject(parent)
    , store_(std::move(store))
    , panel_(panel) {
    connect(&panel_, &ClipboardPanelView::deleteRequested, this, &StoreHistory::remove);
    connect(&panel_, &ClipboardPanelView::clearAllRequested, this, &StoreHistory::clear);
    reload();
}

void StoreHistory::reload() {
    const auto records = store_->listClipboardRecords(AppStore::historyCapacity);
    if (!records) {
        qWarning().noquote() << "history unavailable:" << records.error().description();
        return;
    }
    ClipboardState state = panel_.clipboardState();
    state.history.clear();
    for (const ClipboardRecord& record : records.value()) {
        state.history.append(ClipboardRecordMapping::entryFromRecord(record));
    }
    panel_.setClipboardState(state);
}

void StoreHistory::remove(qint64 id) {
    if (const auto status = store_->deleteClipboardRecord(id); !status) {
        qWarning().noquote() << "history entry" << id
                             << "not deleted:" << status.error().description();
    }
    reload();
}

void StoreHistory::clear() {
    if (const auto status = store_->clearClipboardRecords(); !status) {
        qWarning().noquote() << "history not cleared:" << status.error().description();
    }
    reload();
}

} // namespace orvane
