#include "app/SendController.h"

#include "trans/TransPayload.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace orvane {

struct SendController::Task {
    ClipboardEntry entry;
    std::stop_source stop;
    // The pause after a successful send; the task is done once it has passed.
    std::optional<ModelTimers::Id> doneTimer;
    bool ended = false;
};

namespace {

QString successMessage(const ClipboardEntry& entry) {
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

// The link was closed, or the transfer broke off or timed out on it.
bool isLinkFailure(TransError::Code code) {
    switch (code) {
    case TransError::Code::serialClosed:
    case TransError::Code::transferFailed:
    case TransError::Code::transferTimeout:
        return true;
    default:
        return false;
    }
}

QString sizeText(const SendJob& job) {
    const qint64 size = job.payload.size();
    return job.fileName.isEmpty() ? QStringLiteral("%1 B").arg(size)
                                  : QStringLiteral("%1 · %2 B").arg(job.fileName).arg(size);
}

} // namespace

SendController::SendController(Link link, Hooks hooks, ModelTimers& timers, ToastController& toasts,
                               QObject* parent)
    : QObject(parent)
    , link_(std::move(link))
    , hooks_(std::move(hooks))
    , timers_(timers)
    , toasts_(toasts) {}

SendController::~SendController() {
    cancel();
    for (auto& sender : threads_) {
        sender.thread.request_stop();
    }
    threads_.clear(); // joins
}

void SendController::send(const ClipboardEntry& entry) {
    Q_ASSERT(thread() == QThread::currentThread());
    cancel();
    auto task = std::make_shared<Task>();
    task->entry = entry;
    task_ = task;
    hooks_.sessionBegan();
    setTransfer(true, 0);
    if (!link_.isConnected()) {
        finish(task, TransError(TransError::Code::serialClosed).errorDescription(), false, true);
        return;
    }
    if (link_.isBusy()) {
        finish(task, TransError(TransError::Code::sendBusy).errorDescription(), false);
        return;
    }
    reapThreads();
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Made here: a guard for this object is taken on the thread it lives on.
    QPointer<SendController> self(this);
    threads_.push_back(
        Thread{std::jthread([this, self, task, done] { run(self, task, done); }), done});
}

// On the send's own thread. The controller outlives it (its destructor joins), but its state
// belongs to the main thread: results go there as queued calls.
void SendController::run(const QPointer<SendController>& self, const std::shared_ptr<Task>& task,
                         const std::shared_ptr<std::atomic<bool>>& done) {
    const auto report = [self, task, done](const QString& failure, bool cancelled,
                                           bool aboutTheLink) {
        done->store(true);
        QMetaObject::invokeMethod(
            self.data(),
            [self, task, failure, cancelled, aboutTheLink] {
                if (self) {
                    self->finish(task, failure, cancelled, aboutTheLink);
                }
            },
            Qt::QueuedConnection);
    };
    // Read here, not on the main thread: a file may be large or on a slow disk.
    auto job = TransPayload::jobFor(task->entry);
    if (!job) {
        report(job.error().description(), false, false);
        return;
    }
    hooks_.log(QStringLiteral("发送 剪贴板 · ") + clipboardKindRawValue(task->entry.kind) +
               QStringLiteral(": ") + sizeText(*job));
    auto result = link_.run(
        *job,
        [self, task](int percent) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, task, percent] {
                    if (self && self->task_ == task && !task->ended) {
                        self->setTransfer(true, percent);
                    }
                },
                Qt::QueuedConnection);
        },
        task->stop.get_token());
    if (result) {
        report({}, false, false);
    } else if (const auto* error = std::get_if<TransError>(&result.error())) {
        report(error->errorDescription(), false, isLinkFailure(error->code()));
    } else {
        report({}, true, false);
    }
}

void SendController::finish(const std::shared_ptr<Task>& task, const QString& failure,
                            bool cancelled, bool aboutTheLink) {
    if (task->ended) {
        return;
    }
    if (cancelled || task->stop.stop_requested()) {
        reportCancelled(task);
        return;
    }
    if (!failure.isEmpty()) {
        hooks_.failed(failure, aboutTheLink);
        toasts_.show(failure, ToastKind::error);
        end(task);
        return;
    }
    if (task_ == task) {
        setTransfer(true, 100);
    }
    toasts_.show(successMessage(task->entry), ToastKind::success);
    // The done state stays visible a moment; a cancel meanwhile still counts as one.
    task->doneTimer = timers_.after(doneTime, [this, task] {
        task->doneTimer.reset();
        end(task);
    });
}

void SendController::cancel() {
    const auto task = task_;
    if (!task || task->ended) {
        return;
    }
    task->stop.request_stop();
    if (task->doneTimer) {
        // Nothing runs any more: the pause after the send is cut short at once.
        reportCancelled(task);
    }
}

void SendController::reportCancelled(const std::shared_ptr<Task>& task) {
    hooks_.log(QStringLiteral("剪贴板发送已取消"));
    toasts_.show(QStringLiteral("已取消发送"), ToastKind::warning);
    end(task);
}

void SendController::end(const std::shared_ptr<Task>& task) {
    if (task->ended) {
        return;
    }
    task->ended = true;
    if (task->doneTimer) {
        timers_.cancel(*task->doneTimer);
        task->doneTimer.reset();
    }
    // A send that was replaced by a newer one leaves the newer one's state alone.
    if (task_ == task) {
        task_.reset();
        setTransfer(false, 0);
    }
    hooks_.sessionEnded();
}

void SendController::setTransfer(bool transferring, int progress) {
    if (isTransferring_ == transferring && progress_ == progress) {
        return;
    }
    isTransferring_ = transferring;
    progress_ = progress;
    emit transferChanged();
}

void SendController::reapThreads() {
    std::erase_if(threads_, [](const Thread& sender) { return sender.done->load(); });
}

} // namespace orvane
