#include "app/ModelTimers.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>

namespace orvane {

namespace {

class EventLoopTimers final : public ModelTimers {
public:
    ~EventLoopTimers() override {
        for (auto& [id, timer] : timers_) {
            delete timer.data();
        }
    }

    Id after(std::chrono::milliseconds delay, std::function<void()> job) override {
        const Id id = ++lastID_;
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, [this, id, job = std::move(job)] {
            cancel(id);
            job();
        });
        timers_[id] = timer;
        timer->start(delay);
        return id;
    }

    void cancel(Id id) override {
        const auto found = timers_.find(id);
        if (found == timers_.end()) {
            return;
        }
        if (found->second) {
            found->second->stop();
            found->second->deleteLater();
        }
        timers_.erase(found);
    }

private:
    Id lastID_ = 0;
    std::map<Id, QPointer<QTimer>> timers_;
};

} // namespace

std::unique_ptr<ModelTimers> ModelTimers::eventLoop() {
    return std::make_unique<EventLoopTimers>();
}

} // namespace orvane
