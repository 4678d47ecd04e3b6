// The clipboard side of the application model: sending an entry to the device, history
// actions, persisting, the toggles.
#include "app/AppModel.h"
#include "storage/ClipboardRecordMapping.h"
#include "trans/TransPayload.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace orvane {

void AppModel::sendClipboardItem(qint64 id) {
    Q_ASSERT(thread() == QThread::currentThread());
    setErrorMessage({});
    const auto entry = clipboard_->entryByID(id);
    if (!entry) {
        setErrorMessage(QStringLiteral("找不到剪贴板记录"));
        showToast(QStringLiteral("找不到剪贴板记录"), ToastKind::error);
        return;
    }
    sends_->send(*entry);
}

void AppModel::cancelClipboardSend() {
    sends_->cancel();
}

void AppModel::showToast(const QString& message, ToastKind kind) {
    toasts_->show(message, kind);
}

void AppModel::doubleClickHistoryItem(const ClipboardEntry& entry) {
    setErrorMessage({});
    const ClipboardEntry copy = entry;
    deleteClipboardItem(copy.id);
    applyClipboardEntry(copy);
}

void AppModel::deleteClipboardItem(qint64 id) {
    setErrorMessage({});
    if (!clipboard_->removeHistoryItem(id)) {
        return;
    }
    if (store_) {
        (void)store_->deleteClipboardRecord(id);
    }
    refreshClipboardState();
}

void AppModel::clearClipboardHistory() {
    setErrorMessage({});
    clipboard_->clearHistory();
    refreshClipboardState();
    if (store_) {
        // The screen is cleared at once; the database follows in the background.
        QThreadPool::globalInstance()->start(
            [store = store_] { (void)store->clearClipboardRecords(); });
    }
}

void AppModel::applyClipboardEntry(const ClipboardEntry& entry) {
    setErrorMessage({});
    if (auto applied = clipboard_->applyEntry(entry); !applied) {
        setErrorMessage(applied.error().description());
        return;
    }
    refreshClipboardState();
}

std::optional<qint64> AppModel::persistClipboardEntry(const ClipboardEntry& entry) {
    if (!store_) {
        return std::nullopt;
    }
    auto recent = store_->hasRecentClipboardRecord(entry.fingerprint(), duplicateWindowMs);
    if (recent && recent.value()) {
        return std::nullopt;
    }
    // Stores an inline image as a file first, so that the row refers to it.
    auto record = ClipboardRecordMapping::recordFromEntry(entry);
    if (!record) {
        appendProtocolLog(QStringLiteral("历史记录未保存: ") + record.error().description());
        return std::nullopt;
    }
    auto added = store_->addClipboardRecord(record.value());
    if (!added) {
        appendProtocolLog(QStringLiteral("历史记录未保存: ") + added.error().description());
        return std::nullopt;
    }
    return added.value();
}

QList<ClipboardEntry> AppModel::loadClipboardHistory() {
    QList<ClipboardEntry> entries;
    if (!store_) {
        return entries;
    }
    if (auto rows = store_->listClipboardRecords(ClipboardManager::maxHistory)) {
        for (const auto& row : rows.value()) {
            entries.append(ClipboardRecordMapping::entryFromRecord(row));
        }
    }
    return entries;
}

void AppModel::deliverTransEntry(const ClipboardEntry& entry) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (isShutDown_ || !clipboard_->receiveRemote(entry)) {
        return;
    }
    refreshClipboardState();
    appendProtocolLog(QStringLiteral("剪贴板已更新: %1 · %2 B")
                          .arg(clipboardKindRawValue(entry.kind))
                          .arg(entry.dataSize));
}

void AppModel::applySerialDebugLogEnabled(bool enabled) {
    setErrorMessage({});
    setSerialDebugLogEnabledValue(enabled);
    AppSettings updated = settings_;
    updated.serialDebugLogEnabled = enabled;
    persistSettings(updated);
    setSettings(updated);
}

void AppModel::setAutostart(bool enabled) {
    if (auto changed = parts_.loginItem(enabled); !changed) {
        setErrorMessage(QStringLiteral("开机自启动设置失败: ") + changed.error());
        return;
    }
    AppSettings updated = settings_;
    updated.autostart = enabled;
    setSettings(updated);
    persistSettings(updated);
}

} // namespace orvane
