#pragma once

#include "app/ModelTimers.h"
#include "support/FakeClipboardTimers.h"

#include <map>
#include <memory>

namespace orvane {

// The application model's timers on the clipboard's fake clock, so that one advance()
// drives both.
class FakeModelTimers : public ModelTimers {
public:
    explicit FakeModelTimers(FakeClipboardTimers& clock)
        : clock_(clock) {}
    Id after(std::chrono::milliseconds delay, std::function<void()> job) override {
        const Id id = ++last_;
        handles_[id] = clock_.start(delay, false, std::move(job));
        return id;
    }
    void cancel(Id id) override { handles_.erase(id); }

private:
    FakeClipboardTimers& clock_;
    Id last_ = 0;
    std::map<Id, std::unique_ptr<ClipboardTimers::Timer>> handles_;
};

} // namespace orvane
