#include "app/SendController.h"

#include "trans/TransPayload.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <utility>

namespace orvane {

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

quint64 SendController::send(const ClipboardEntry& entry, Observer observer) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (task_ && task_->doneTimer) {
        // The last send went through; only its pause on screen is cut short, which is no
        // cancellation.
        end(task_);
    } else {
        cancel();
    }
    auto task = std::make_shared<Task>();
    task->entry = entry;
    task->observer = std::move(observer);
    task->number = ++lastNumber_;
    task_ = task;
    hooks_.sessionBegan();
    setTransfer(true, 0);
    if (!link_.isConnected()) {
        finish(task, TransError(TransError::Code::serialClosed).errorDescription(), false, true);
        return task->number;
    }
    if (link_.isBusy()) {
        finish(task, TransError(TransError::Code::sendBusy).errorDescription(), false);
        return task->number;
    }
    reapThreads();
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Made here: a guard for this object is taken on the thread it lives on.
    QPointer<SendController> self(this);
    threads_.push_back(
        Thread{std::jthread([this, self, task, done] { run(self, task, done); }), done});
    return task->number;
}

// On the send's own thread. The controller outlives it (its destructor joins), but its state
// belongs to the main thread: results go there as queued calls.
void SendController::run(const QPointer<SendController>& self, const std::shared_ptr<Task>& task,
                         const std::shared_ptr<std::atomic<bool>>& done) {
    const auto report = [self, task, done](const QString& failure, bool cancelled,
                                           bool aboutTheLink, qint64 bytes = 0) {
        done->store(true);
        QMetaObject::invokeMethod(
            self.data(),
            [self, task, failure, cancelled, aboutTheLink, bytes] {
                if (self) {
                    self->finish(task, failure, cancelled, aboutTheLink, bytes);
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
                    if (!self || task->ended) {
                        return;
                    }
                    if (task->observer.progress) {
                        task->observer.progress(percent);
                    }
                    if (self->task_ == task) {
                        self->setTransfer(true, percent);
                    }
                },
                Qt::QueuedConnection);
        },
        task->stop.get_token());
    if (result) {
        report({}, false, false, job->payload.size());
    } else if (const auto* error = std::get_if<TransError>(&result.error())) {
        report(error->errorDescription(), false, isLinkFailure(error->code()));
    } else {
        report({}, true, false);
    }
}

void SendController::finish(const std::shared_ptr<Task>& task, const QString& failure,
                            bool cancelled, bool aboutTheLink, qint64 bytes) {
    if (task->ended) {
        return;
    }
    if (cancelled || task->stop.stop_requested()) {
        reportCancelled(task);
        return;
    }
    const auto tell = [task](Outcome outcome, const QString& message, qint64 size) {
        if (task->observer.finished) {
            // Heard once: the task is over for its observer whatever the pause does later.
            auto finished = std::exchange(task->observer.finished, {});
            finished(outcome, message, size);
        }
    };
    if (!failure.isEmpty()) {
        hooks_.failed(failure, aboutTheLink);
        toasts_.show(failure, ToastKind::error);
        end(task);
        tell(Outcome::failed, failure, 0);
        return;
    }
    // The done state stays visible a moment; a cancel meanwhile still counts as one. Set
    // first, so that those who hear the change below see the transfer as done.
    task->doneTimer = timers_.after(doneTime, [this, task] {
        task->doneTimer.reset();
        end(task);
    });
    if (task_ == task) {
        setTransfer(true, 100);
    }
    const QString message = successMessage(task->entry);
    toasts_.show(message, ToastKind::success);
    tell(Outcome::sent, message, bytes);
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

void SendController::cancel(quint64 number) {
    if (task_ && task_->number == number) {
        cancel();
    }
}

void SendController::reportCancelled(const std::shared_ptr<Task>& task) {
    const QString message = QStringLiteral("已取消发送");
    hooks_.log(QStringLiteral("剪贴板发送已取消"));
    toasts_.show(message, ToastKind::warning);
    end(task);
    if (auto finished = std::exchange(task->observer.finished, {})) {
        finished(Outcome::cancelled, message, 0);
    }
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
