// The clipboard side of the application model: sending an entry to the device, history
// actions, persisting, the toggles.
#include "app/AppModel.h"
#include "trans/TransPayload.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

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
    keeper_->remove(id);
    refreshClipboardState();
}

void AppModel::clearClipboardHistory() {
    setErrorMessage({});
    clipboard_->clearHistory();
    refreshClipboardState();
    // The screen is cleared at once; the database follows in the background.
    keeper_->clear();
}

void AppModel::applyClipboardEntry(const ClipboardEntry& entry) {
    setErrorMessage({});
    if (auto applied = clipboard_->applyEntry(entry); !applied) {
        setErrorMessage(applied.error().description());
        return;
    }
    refreshClipboardState();
}

void AppModel::deliverTransEntry(const ClipboardEntry& entry) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (isShutDown_ || !clipboard_->receiveRemote(entry)) {
        return;
    }
    refreshClipboardState();
    keeper_->whenSettled(clipboard_->state().history.first(),
                         [this](const ClipboardEntry& received) { emit itemReceived(received); });
    appendProtocolLog(QStringLiteral("剪贴板已更新: %1 · %2 B")
                          .arg(clipboardKindRawValue(entry.kind))
                          .arg(entry.dataSize),
                      lcClipboard());
}

void AppModel::applySerialDebugLogEnabled(bool enabled) {
    setErrorMessage({});
    setSerialDebugLogEnabledValue(enabled);
    AppSettings updated = settings_->current();
    updated.serialDebugLogEnabled = enabled;
    settings_->commit(updated);
}

void AppModel::setAutostart(bool enabled) {
    settings_->setAutostart(enabled);
}

} // namespace orvane
