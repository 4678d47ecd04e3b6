#pragma once

#include "serial/SerialClock.h"
#include "serial/SerialConnectionHost.h"
#include "serial/SerialDeviceSource.h"
#include "serial/SerialPortIO.h"
#include "serial/SerialStatusText.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

namespace orvane::testing {

// A clock that never waits: sleeping moves time forward at once. Records every sleep.
class FakeSerialClock : public SerialClock {
public:
    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    bool sleepFor(std::chrono::milliseconds duration) override {
        std::lock_guard lock(mutex_);
        if (interrupted_) {
            return false;
        }
        now_ += duration;
        sleeps_.push_back(duration);
        return true;
    }
    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    void advance(std::chrono::milliseconds by) {
        std::lock_guard lock(mutex_);
        now_ += by;
    }
    void advanceTo(TimePoint when) {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, when);
    }
    std::vector<std::chrono::milliseconds> takeSleeps() {
        std::lock_guard lock(mutex_);
        return std::exchange(sleeps_, {});
    }

private:
    mutable std::mutex mutex_;
    TimePoint now_{std::chrono::hours(1)};
    std::vector<std::chrono::milliseconds> sleeps_;
    bool interrupted_ = false;
};

// A serial device whose behaviour the test scripts: opens succeed, or fail with a given
// error; the line can go dead under an open descriptor. Shared by every session's I/O.
struct ScriptedDevice {
    std::mutex mutex;
    std::optional<SerialSystemError> openFailure;
    std::atomic<bool> alive{true};
    std::atomic<int> opens{0};

    void failOpens(SerialErrorKind kind, const QString& text) {
        std::lock_guard lock(mutex);
        openFailure = SerialSystemError{0, text, kind};
    }
    void acceptOpens() {
        std::lock_guard lock(mutex);
        openFailure.reset();
    }
};

class ScriptedSerialPortIO : public SerialPortIO {
public:
    // Nodes exist as `nodes` says; an open of a missing one fails as the system's would.
    ScriptedSerialPortIO(std::shared_ptr<ScriptedDevice> device,
                         std::shared_ptr<const SerialDeviceSource> nodes)
        : device_(std::move(device))
        , nodes_(std::move(nodes)) {}

    bool pathExists(const QString& path) override { return nodes_->pathExists(path); }
    Result<int, SerialSystemError> openExclusive(const QString& path) override {
        ++device_->opens;
        if (!nodes_->pathExists(path)) {
            return fail(
                SerialSystemError{2, "No such file or directory", SerialErrorKind::missing});
        }
        std::lock_guard lock(device_->mutex);
        if (device_->openFailure) {
            return fail(*device_->openFailure);
        }
        device_->alive = true;
        return 100;
    }
    void closePort(int) override {}
    Status<RawModeFailure> makeRaw(int, qint64) override { return Done{}; }
    Result<qint64, SerialSystemError> setSpeed(int, qint64 baud) override { return baud; }
    void requestLowLatency(int, bool) override {}
    void setNonBlocking(int) override {}
    bool isDescriptorOpen(int fd) override { return fd >= 0; }
    bool isUsable(int fd) override { return fd >= 0 && device_->alive; }
    WaitResult wait(int fd, int timeoutMs) override {
        if (fd >= 0 && !device_->alive) {
            return WaitResult::hangup;
        }
        std::unique_lock lock(mutex_);
        const bool woken = wakeUp_.wait_for(lock, std::chrono::milliseconds(std::min(timeoutMs, 5)),
                                            [this] { return woken_; });
        woken_ = false;
        return woken ? WaitResult::woken : WaitResult::timedOut;
    }
    void wake() override {
        std::lock_guard lock(mutex_);
        woken_ = true;
        wakeUp_.notify_all();
    }
    SerialIOCount readSome(int, char*, qint64) override { return {}; }
    SerialIOCount writeSome(int, const char*, qint64 length) override {
        return {length, false, {}, SerialErrorKind::other};
    }
    void waitWritable(int, int) override {}

private:
    std::shared_ptr<ScriptedDevice> device_;
    std::shared_ptr<const SerialDeviceSource> nodes_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool woken_ = false;
};

// Records what the controller publishes, in order, as the main thread would see it.
class RecordingConnectionHost : public SerialConnectionHost {
public:
    Selection chosen;
    bool live = false;
    QString status;
    QString hint;
    QString selectedPath;
    QStringList lines; // "<direction> <summary>", and "ERR <message>"
    QStringList migrations;
    bool changesReported = false;

    Selection selection() const override { return chosen; }
    bool transferReceiveActive() const override { return false; }
    qint64 exclusiveSendDepth() const override { return 0; }
    bool portChangesReported() const override { return changesReported; }
    void publishConnectionState(bool isLive, const SerialStatus& value) override {
        live = isLive;
        status = SerialStatusText::status(value);
    }
    void publishDisconnected(const SerialStatus& value) override {
        live = false;
        status = SerialStatusText::status(value);
    }
    void publishConnecting(const QString& path) override {
        status = SerialStatusText::status(SerialStatus::connecting(path));
    }
    void publishPortClosed() override {}
    void publishPorts(const QList<SerialPortInfo>&) override {}
    void publishConnectHint(const SerialHint& value) override {
        hint = SerialStatusText::hint(value);
    }
    void publishSelectedPath(const QString& path, const QString& summary, bool migrated) override {
        chosen.path = path;
        selectedPath = path;
        if (!summary.isEmpty()) {
            lines.append("SYS " + summary);
        }
        if (migrated) {
            migrations.append(path);
        }
    }
    void publishUserWantsConnection(bool) override {}
    void publishRxByteCount(quint64) override {}
    void log(const QString& direction, const QString& summary) override {
        lines.append(direction + ' ' + summary);
    }
    void logError(const QString& message) override { lines.append("ERR " + message); }
    void requestDrain(std::weak_ptr<SerialPortSession>) override {}
};

} // namespace orvane::testing
