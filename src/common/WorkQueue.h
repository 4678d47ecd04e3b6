#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvane {

// A named work queue: one thread that runs the tasks posted to it, one at a time,
// in the order they were posted. Stopping (or destroying) it runs what is still queued
// and joins the thread, so tasks may capture their owner as long as the owner outlives
// the queue.
class WorkQueue {
public:
    // `label` is the queue's reverse-DNS name ("com.orvane.serial.read"); the thread is
    // named after its part behind "com.orvane." since thread names hold 15 characters.
    explicit WorkQueue(QString label);
    ~WorkQueue();

    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    const QString& label() const { return label_; }

    // Queues `task`; once the queue has stopped, drops it.
    void post(std::function<void()> task);

    // Posts `task` and waits at most `timeout` for it to finish. Returns whether it did;
    // on a time-out the task still runs later. Must not be called from the queue itself.
    // Returns false at once when the queue has stopped.
    bool runAndWait(std::function<void()> task, std::chrono::milliseconds timeout);

    // Runs what is still queued (and what those tasks queue), then ends the thread. The
    // queue stays valid: what is posted afterwards, say by another queue still winding
    // down, is dropped. Must not be called from the queue itself. The destructor stops.
    void stop();

    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    QString label_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    bool stopped_ = false; // the thread has ended; nothing will run any more
    std::thread thread_;
};

} // namespace orvane
