#pragma once

#include "clipboard/ClipboardTimers.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

// ClipboardTimers on a clock that moves only when the test says so. advance() fires
// every timer that falls due, in time order, at its own due time.
class FakeClipboardTimers : public orvane::ClipboardTimers {
public:
    static constexpr qint64 startWallMs = 1'700'000'000'000;

    qint64 nowMs() const override { return startWallMs + elapsedMs_; }

    std::unique_ptr<Timer> start(std::chrono::milliseconds interval, bool repeating,
                                 std::function<void()> fire) override {
        auto slot = std::make_shared<Slot>(Slot{elapsedMs_ + interval.count(), interval.count(),
                                                repeating, std::move(fire), true, nextSeq_++});
        slots_.push_back(slot);
        return std::make_unique<Handle>(slot);
    }

    void advance(std::chrono::milliseconds by) {
        const qint64 target = elapsedMs_ + by.count();
        for (;;) {
            std::shared_ptr<Slot> next;
            for (const auto& slot : slots_) {
                if (slot->alive && slot->dueMs <= target &&
                    (!next ||
                     std::pair(slot->dueMs, slot->seq) < std::pair(next->dueMs, next->seq))) {
                    next = slot;
                }
            }
            if (!next) {
                break;
            }
            elapsedMs_ = next->dueMs;
            if (next->repeating) {
                next->dueMs += std::max<qint64>(next->intervalMs, 1);
            } else {
                next->alive = false;
            }
            // A copy: the callback may destroy its own handle.
            const std::function<void()> fire = next->fire;
            fire();
        }
        elapsedMs_ = target;
        std::erase_if(slots_, [](const auto& slot) { return !slot->alive; });
    }

    // Timers still running.
    int active() const {
        return static_cast<int>(std::count_if(slots_.begin(), slots_.end(),
                                              [](const auto& slot) { return slot->alive; }));
    }

private:
    struct Slot {
        qint64 dueMs;
        qint64 intervalMs;
        bool repeating;
        std::function<void()> fire;
        bool alive;
        quint64 seq;
    };
    class Handle : public Timer {
    public:
        explicit Handle(std::weak_ptr<Slot> slot)
            : slot_(std::move(slot)) {}
        ~Handle() override {
            if (auto slot = slot_.lock()) {
                slot->alive = false;
            }
        }

    private:
        std::weak_ptr<Slot> slot_;
    };

    std::vector<std::shared_ptr<Slot>> slots_;
    // Atomic: the history's worker reads the clock (the store's "recent") while the test
    // moves it on the main thread.
    std::atomic<qint64> elapsedMs_{0};
    quint64 nextSeq_ = 0;
};
