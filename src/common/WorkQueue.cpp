#include "common/WorkQueue.h"

#include <QtGlobal>

#include <memory>
#include <pthread.h>

namespace orvane {

WorkQueue::WorkQueue(QString label)
    : label_(std::move(label)) {
    thread_ = std::thread([this] { run(); });
    QString shortName = label_;
    shortName.remove(QStringLiteral("com.orvane."));
    pthread_setname_np(thread_.native_handle(), shortName.left(15).toUtf8().constData());
}

WorkQueue::~WorkQueue() {
    stop();
}

void WorkQueue::stop() {
    Q_ASSERT(!isCurrentThread());
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        dropped.swap(tasks_); // posted between the thread's end and now
    }
}

void WorkQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    wakeUp_.notify_one();
}

bool WorkQueue::runAndWait(std::function<void()> task, std::chrono::milliseconds timeout) {
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return false;
        }
    }
    // Shared, so that a task outliving a timed-out wait still has somewhere to report to.
    auto completion = std::make_shared<Completion>();
    post([completion, task = std::move(task)] {
        if (task) {
            task();
        }
        std::lock_guard lock(completion->mutex);
        completion->finished = true;
        completion->done.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    return completion->done.wait_for(lock, timeout, [&] { return completion->finished; });
}

void WorkQueue::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wakeUp_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return; // stopping, and everything posted has run
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace orvane
