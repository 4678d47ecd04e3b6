#pragma once

#include "app/ModelTimers.h"
#include "app/ToastController.h"
#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "trans/SendJob.h"
#include "trans/TransSender.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace orvane {

// Sends one history entry at a time to the device: on a thread of its own, turns it into a
// transfer job (reading its file) and runs the transfer; publishes its progress, reports the
// outcome as a toast (and a failure as the model's error), keeps the done state visible a moment,
// and cancels on request. A new send replaces the one running. A send may carry an observer that
// hears each of its progress values and its end, for callers other than the window. Main thread,
// except where said.
class SendController : public QObject {
    Q_OBJECT

public:
    // How long the finished transfer stays on screen before the panel is free again.
    static constexpr std::chrono::milliseconds doneTime{600};

    using Run = std::function<Status<TransSender::SendError>(
        const SendJob& job, const TransSender::ProgressCallback& onProgress, std::stop_token stop)>;

    // What a send needs from the rest of the application.
    struct Link {
        std::function<bool()> isConnected;
        std::function<bool()> isBusy; // the sender is already transferring
        Run run;                      // on the send's own thread; blocks until done
    };
    struct Hooks {
        std::function<void()> sessionBegan; // while a send lasts, the clipboard is held still
        std::function<void()> sessionEnded;
        std::function<void(const QString& line)> log; // any thread
        // The send failed; `aboutTheLink` when the link was closed or broke off, a failure
        // that a working link makes obsolete.
        std::function<void(const QString& message, bool aboutTheLink)> failed;
    };

    enum class Outcome { sent, failed, cancelled };
    // Hears one send: every progress value in the order the sender reported it, then its end
    // once (the banner's text; the payload's size when sent, otherwise 0). Main thread.
    struct Observer {
        std::function<void(int percent)> progress;
        std::function<void(Outcome outcome, const QString& message, qint64 bytes)> finished;
    };

    SendController(Link link, Hooks hooks, ModelTimers& timers, ToastController& toasts,
                   QObject* parent = nullptr);
    // Stops the running send and waits for its thread.
    ~SendController() override;

    // Returns the send's number, for cancel(number).
    quint64 send(const ClipboardEntry& entry, Observer observer = {});
    // Ends the running send; it reports "已取消发送".
    void cancel();
    // The same, only while the running send is the one numbered `number`.
    void cancel(quint64 number);

    // A transfer is under way: started and not yet past its outcome.
    bool isSending() const { return task_ && !task_->ended && !task_->doneTimer; }
    // A new send would be refused or would replace one: a transfer is under way, or the
    // sender is still unwinding one.
    bool isBusy() const { return isSending() || link_.isBusy(); }

    bool isTransferring() const { return isTransferring_; }
    int progress() const { return progress_; }
    bool hasTask() const { return task_ != nullptr; }

signals:
    void transferChanged();

private:
    struct Task {
        ClipboardEntry entry;
        Observer observer;
        quint64 number = 0;
        std::stop_source stop;
        // The pause after a successful send; the task is done once it has passed.
        std::optional<ModelTimers::Id> doneTimer;
        bool ended = false;
    };

    void run(const QPointer<SendController>& self, const std::shared_ptr<Task>& task,
             const std::shared_ptr<std::atomic<bool>>& done);
    void finish(const std::shared_ptr<Task>& task, const QString& failure, bool cancelled,
                bool aboutTheLink = false, qint64 bytes = 0);
    void reportCancelled(const std::shared_ptr<Task>& task);
    void end(const std::shared_ptr<Task>& task);
    void setTransfer(bool transferring, int progress);
    void reapThreads();

    const Link link_;
    const Hooks hooks_;
    ModelTimers& timers_;
    ToastController& toasts_;
    bool isTransferring_ = false;
    int progress_ = 0;
    std::shared_ptr<Task> task_;
    quint64 lastNumber_ = 0;
    struct Thread {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Thread> threads_;
};

} // namespace orvane
