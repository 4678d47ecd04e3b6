#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvane {

// A named serial work queue: one thread that runs the tasks posted to it, one at a time,
// in the order they were posted. The destructor runs what is still queued and joins the
// thread, so tasks may capture their owner as long as the owner outlives the queue.
class SerialWorkQueue {
public:
    // `label` is the queue's reverse-DNS name ("com.orvane.serial.read"); the thread is
    // named after its part behind "com.orvane." since thread names hold 15 characters.
    explicit SerialWorkQueue(QString label);
    ~SerialWorkQueue();

    SerialWorkQueue(const SerialWorkQueue&) = delete;
    SerialWorkQueue& operator=(const SerialWorkQueue&) = delete;

    const QString& label() const { return label_; }

    void post(std::function<void()> task);

    // Posts `task` and waits at most `timeout` for it to finish. Returns whether it did;
    // on a time-out the task still runs later. Must not be called from the queue itself.
    bool runAndWait(std::function<void()> task, std::chrono::milliseconds timeout);

    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    QString label_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvane
