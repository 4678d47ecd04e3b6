#pragma once

#include "serial/SerialConnectionController.h"
#include "serial/SerialPortOpenWatch.h"

namespace orvane::testing {

// Port open watches made for a controller under test: the test reports opens and closes
// through whichever one the controller holds at the moment.
class FakeSerialPortOpenWatches {
public:
    SerialConnectionController::OpenWatchFactory factory() {
        return [this] {
            return std::make_unique<Watch>(*this);
        };
    }

    // False when no watch is open.
    bool report(const SerialPortOpenWatch::Events& events) {
        if (!current_) {
            return false;
        }
        current_->onEvents(events);
        return true;
    }
    bool watching() const { return current_ != nullptr; }

    QString path; // of the last watch started
    int started = 0;

private:
    struct Watch : SerialPortOpenWatch {
        explicit Watch(FakeSerialPortOpenWatches& owner)
            : owner(owner) {}
        ~Watch() override {
            if (owner.current_ == this) {
                owner.current_ = nullptr;
            }
        }
        bool start(const QString& watched, Callback callback) override {
            onEvents = std::move(callback);
            owner.path = watched;
            ++owner.started;
            owner.current_ = this;
            return true;
        }
        FakeSerialPortOpenWatches& owner;
        Callback onEvents;
    };

    Watch* current_ = nullptr;
};

} // namespace orvane::testing
