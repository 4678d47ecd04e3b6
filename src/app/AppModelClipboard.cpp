// The clipboard side of the application model: sending an entry to the device with its
// progress, outcome toast and cancellation; history actions; persisting; the toggles.
#include "app/AppModel.h"
#include "trans/TransPayload.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace orvane {

struct AppModel::SendTask {
    ClipboardEntry entry;
    std::stop_source stop;
    // The pause after a successful send; the task is done once it has passed.
    std::optional<ModelTimers::Id> doneTimer;
    bool ended = false;
};

namespace {

QString sendSuccessMessage(const ClipboardEntry& entry) {
    switch (entry.kind) {
    case ClipboardKind::text:
        return QStringLiteral("发送成功 · 文本");
    case ClipboardKind::image:
        return QStringLiteral("发送成功 · 截图");
    case ClipboardKind::files:
        break;
    }
    if (entry.files.isEmpty()) {
        return QStringLiteral("发送成功 · 文件");
    }
    return QStringLiteral("发送成功 · ") + QFileInfo(entry.files.first()).fileName();
}

} // namespace

void AppModel::sendClipboardItem(qint64 id) {
    Q_ASSERT(thread() == QThread::currentThread());
    setErrorMessage({});
    const auto entry = clipboard_->entryByID(id);
    if (!entry) {
        setErrorMessage(QStringLiteral("找不到剪贴板记录"));
        showToast(QStringLiteral("找不到剪贴板记录"), ToastKind::error);
        return;
    }
    cancelClipboardSend();
    auto task = std::make_shared<SendTask>();
    task->entry = *entry;
    sendTask_ = task;
    clipboard_->beginSendSession();
    setTransfer(true, 0);

    Result<SendJob, TransPayloadError> job =
        fail(TransPayloadError(TransError::Code::emptyPayload));
    switch (entry->kind) {
    case ClipboardKind::text:
        job = TransPayload::textJob(*entry);
        break;
    case ClipboardKind::files:
        job = TransPayload::fileJob(*entry);
        break;
    case ClipboardKind::image:
        job = TransPayload::imageJob(*entry);
        break;
    }
    if (!job) {
        finishSend(task, job.error().description(), false);
        return;
    }
    runSend(task, std::move(job.value()),
            QStringLiteral("剪贴板 · ") + clipboardKindRawValue(entry->kind));
}

void AppModel::runSend(const std::shared_ptr<SendTask>& task, SendJob job, const QString& label) {
    SerialService& serial = stack_->service();
    if (!serial.isConnected()) {
        finishSend(task, TransError(TransError::Code::serialClosed).errorDescription(), false);
        return;
    }
    if (stack_->sender().isBusy()) {
        finishSend(task, TransError(TransError::Code::sendBusy).errorDescription(), false);
        return;
    }
    const qint64 size = job.payload.size();
    const QString sizeText = job.fileName.isEmpty()
                                 ? QStringLiteral("%1 B").arg(size)
                                 : QStringLiteral("%1 · %2 B").arg(job.fileName).arg(size);
    appendProtocolLog(QStringLiteral("发送 ") + label + QStringLiteral(": ") + sizeText);

    reapSendThreads();
    auto done = std::make_shared<std::atomic<bool>>(false);
    QPointer<AppModel> self(this);
    std::stop_token stop = task->stop.get_token();
    ProtocolStack* stack = stack_.get();
    sendThreads_.push_back(
        SendThread{std::jthread([self, task, stack, stop, done, job = std::move(job)] {
                       auto result = stack->send(
                           job,
                           [self, task](int percent) {
                               QMetaObject::invokeMethod(
                                   self.data(),
                                   [self, task, percent] {
                                       if (self && self->sendTask_ == task && !task->ended) {
                                           self->setTransfer(true, percent);
                                       }
                                   },
                                   Qt::QueuedConnection);
                           },
                           stop, QStringLiteral("TRANS TX"));
                       QString failure;
                       bool cancelled = false;
                       if (!result) {
                           if (const auto* error = std::get_if<TransError>(&result.error())) {
                               failure = error->errorDescription();
                           } else {
                               cancelled = true;
                           }
                       }
                       done->store(true);
                       QMetaObject::invokeMethod(
                           self.data(),
                           [self, task, failure, cancelled] {
                               if (self) {
                                   self->finishSend(task, failure, cancelled);
                               }
                           },
                           Qt::QueuedConnection);
                   }),
                   done});
}

void AppModel::finishSend(const std::shared_ptr<SendTask>& task, const QString& failure,
                          bool cancelled) {
    if (task->ended) {
        return;
    }
    if (cancelled || task->stop.stop_requested()) {
        appendProtocolLog(QStringLiteral("剪贴板发送已取消"));
        showToast(QStringLiteral("已取消发送"), ToastKind::warning);
        endSend(task);
        return;
    }
    if (!failure.isEmpty()) {
        setErrorMessage(failure);
        showToast(failure, ToastKind::error);
        endSend(task);
        return;
    }
    if (sendTask_ == task) {
        setTransfer(true, 100);
    }
    showToast(sendSuccessMessage(task->entry), ToastKind::success);
    // The done state stays visible a moment; a cancel meanwhile still counts as one.
    task->doneTimer = timers_->after(sendDoneTime, [this, task] {
        task->doneTimer.reset();
        endSend(task);
    });
}

void AppModel::endSend(const std::shared_ptr<SendTask>& task) {
    if (task->ended) {
        return;
    }
    task->ended = true;
    if (task->doneTimer) {
        timers_->cancel(*task->doneTimer);
        task->doneTimer.reset();
    }
    // A send that was replaced by a newer one leaves the newer one's state alone.
    if (sendTask_ == task) {
        sendTask_.reset();
        setTransfer(false, 0);
    }
    if (clipboard_) {
        clipboard_->releaseSendSession();
    }
}

void AppModel::cancelClipboardSend() {
    const auto task = sendTask_;
    if (!task || task->ended) {
        return;
    }
    task->stop.request_stop();
    if (task->doneTimer) {
        // Nothing runs any more: the pause after the send is cut short at once.
        finishSendCancelledInPause(task);
    }
}

void AppModel::finishSendCancelledInPause(const std::shared_ptr<SendTask>& task) {
    appendProtocolLog(QStringLiteral("剪贴板发送已取消"));
    showToast(QStringLiteral("已取消发送"), ToastKind::warning);
    endSend(task);
}

void AppModel::reapSendThreads() {
    std::erase_if(sendThreads_, [](const SendThread& sender) { return sender.done->load(); });
}

void AppModel::setTransfer(bool transferring, int progress) {
    if (isClipboardTransferring_ == transferring && clipboardTransferProgress_ == progress) {
        return;
    }
    isClipboardTransferring_ = transferring;
    clipboardTransferProgress_ = progress;
    emit clipboardTransferChanged();
}

void AppModel::showToast(const QString& message, ToastKind kind) {
    const QUuid id = QUuid::createUuid();
    toast_ = ToastState{id, message, kind};
    emit toastChanged();
    if (toastDismissTimer_) {
        timers_->cancel(*toastDismissTimer_);
    }
    toastDismissTimer_ =
        timers_->after(kind == ToastKind::success ? successToastTime : otherToastTime, [this, id] {
            toastDismissTimer_.reset();
            if (toast_ && toast_->id == id) {
                toast_.reset();
                emit toastChanged();
            }
        });
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
    if (unstoredIDs_.contains(id)) {
        deletedBeforeStored_.insert(id);
    } else {
        history_->remove(id);
    }
    refreshClipboardState();
}

void AppModel::clearClipboardHistory() {
    setErrorMessage({});
    clipboard_->clearHistory();
    refreshClipboardState();
    // The screen is cleared at once; the database follows in the background.
    history_->clear();
}

void AppModel::applyClipboardEntry(const ClipboardEntry& entry) {
    setErrorMessage({});
    if (auto applied = clipboard_->applyEntry(entry); !applied) {
        setErrorMessage(applied.error().description());
        return;
    }
    refreshClipboardState();
}

void AppModel::persistClipboardEntry(const ClipboardEntry& entry) {
    if (!store_) {
        return;
    }
    const qint64 localID = entry.id;
    unstoredIDs_.insert(localID);
    history_->add(entry, HistoryService::Duplicates::skipRecent, this,
                  [this, localID](const HistoryService::Added& added) {
                      unstoredIDs_.erase(localID);
                      const bool deleted = deletedBeforeStored_.erase(localID) > 0;
                      if (!added.failure.isEmpty()) {
                          appendProtocolLog(added.failure);
                      }
                      if (!added.rowID) {
                          return;
                      }
                      if (deleted) {
                          history_->remove(*added.rowID);
                          return;
                      }
                      clipboard_->noteStored(localID, *added.rowID);
                      refreshClipboardState();
                  });
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
