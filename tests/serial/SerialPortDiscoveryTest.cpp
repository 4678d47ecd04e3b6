#include "serial/SerialPortDiscovery.h"

#include "FakeSerialDeviceSource.h"
#include "serial/SerialDiagnostics.h"
#include "serial/SerialPortHotplug.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace orvane {
namespace {

class FakeWatch : public SerialDeviceWatch {
public:
    bool open() override { return opens; }
    Wait waitForChange(int timeoutMs) override {
        std::unique_lock lock(mutex_);
        lastTimeoutMs_ = timeoutMs;
        ++waits_;
        const auto ready = [&] {
            return changes_ || woken_;
        };
        if (timeoutMs < 0) {
            cv_.wait(lock, ready);
        } else {
            cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
        if (woken_) {
            woken_ = false;
            return Wait::woken;
        }
        if (changes_) {
            changes_ = false;
            return Wait::changed;
        }
        return Wait::timedOut;
    }
    void wake() override {
        std::lock_guard lock(mutex_);
        woken_ = true;
        cv_.notify_all();
    }
    void change() {
        std::lock_guard lock(mutex_);
        changes_ = true;
        cv_.notify_all();
    }
    bool opens = true;
    int waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    int lastTimeoutMs() {
        std::lock_guard lock(mutex_);
        return lastTimeoutMs_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool changes_ = false;
    bool woken_ = false;
    int waits_ = 0;
    int lastTimeoutMs_ = 0;
};

TEST(SerialPortDiscoveryTest, MergesDirectoryAndRegistryAndLooksUnnamedPortsUpAgain) {
    auto source = std::make_shared<orvane::testing::FakeSerialDeviceSource>();
    source->nodes = QStringList{"/dev/ttyUSB0", "/dev/ttyACM1"};
    source->registry = {{"/dev/ttyACM1", QString("Halvex KVM")},
                        {"/dev/ttyACM0", QString()},             // listing missed it
                        {"/dev/ttyUSB9", QString("Unplugged")}}; // no such node
    source->existing = {"/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyACM0"};
    source->lateNames = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM1", "Never asked"}};

    const QList<SerialPortInfo> ports = SerialPortDiscovery(source).listPortsOnce();
    ASSERT_EQ(ports.size(), 3);
    EXPECT_EQ(ports[0], SerialPortInfo::make("/dev/ttyACM0", "/dev/ttyACM0"));
    EXPECT_EQ(ports[1], SerialPortInfo::make("/dev/ttyACM1", "Halvex KVM"));
    EXPECT_EQ(ports[2], SerialPortInfo::make("/dev/ttyUSB0", "FT232R USB UART"));

    // A failed listing still yields what the registry knows.
    source->nodes = std::nullopt;
    const QList<SerialPortInfo> fromRegistry = SerialPortDiscovery(source).listPortsOnce();
    ASSERT_EQ(fromRegistry.size(), 2);
    EXPECT_EQ(fromRegistry[0].path, "/dev/ttyACM0");
    EXPECT_EQ(fromRegistry[1].label, "Halvex KVM");
}

TEST(SerialPortDiscoveryTest, BusyPortIsRefusedWithoutAnOpenAttempt) {
    auto source = std::make_shared<orvane::testing::FakeSerialDeviceSource>();
    source->existing = {"/dev/ttyACM0"};
    source->occupiers = {{"/dev/ttyACM0", "minicom"}};
    const SerialPortDiscovery discovery(source);
    EXPECT_FALSE(discovery.canOpenPort("/dev/ttyACM0"));
    EXPECT_FALSE(discovery.canOpenPort("/dev/ttyACM1"));
    EXPECT_EQ(source->openAttempts, 0);
    source->occupiers.clear();
    EXPECT_TRUE(discovery.canOpenPort("/dev/ttyACM0"));
    EXPECT_EQ(source->openAttempts, 1);
}

TEST(SerialPortInfoTest, DisplayNameShowsTheLabelOnlyWhenItSaysMore) {
    EXPECT_EQ(SerialPortInfo::make("/dev/ttyACM0", "Halvex KVM").displayName(),
              "Halvex KVM · /dev/ttyACM0");
    EXPECT_EQ(SerialPortInfo::make("/dev/ttyACM0", "/dev/ttyACM0").displayName(), "/dev/ttyACM0");
    EXPECT_EQ(SerialPortInfo::make("/dev/ttyACM0", "").displayName(), "/dev/ttyACM0");
}

class SerialPortHotplugTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto watch = std::make_unique<FakeWatch>();
        watch_ = watch.get();
        hotplug_ = std::make_unique<SerialPortHotplug>(source_, std::move(watch));
        hotplug_->onEvent = [this](const SerialPortHotplug::Event& e) {
            events_.push_back(e);
        };
    }
    // Starts and waits for the start-up report, so later changes are never mistaken for it.
    void startWithOnePort() {
        setNodes({"/dev/ttyACM9"});
        hotplug_->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return events_.size() == 1; }, 2000));
        events_.clear();
    }
    void setNodes(const QStringList& nodes) {
        std::lock_guard lock(source_->mutex);
        source_->nodes = nodes;
    }

    std::shared_ptr<orvane::testing::FakeSerialDeviceSource> source_ =
        std::make_shared<orvane::testing::FakeSerialDeviceSource>();
    FakeWatch* watch_ = nullptr;
    std::unique_ptr<SerialPortHotplug> hotplug_;
    std::vector<SerialPortHotplug::Event> events_;
};

TEST_F(SerialPortHotplugTest, WaitsForAChangeWithoutTimeOutWhileNothingIsPending) {
    EXPECT_FALSE(hotplug_->isWatching());
    startWithOnePort();
    EXPECT_TRUE(hotplug_->isWatching());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch_->waits() > 0; }, 2000));
    EXPECT_LT(watch_->lastTimeoutMs(), 0);
    hotplug_->stop();
    EXPECT_FALSE(hotplug_->isWatching());
}

TEST_F(SerialPortHotplugTest, NodeWithoutPermissionYetIsReportedOnceItOpens) {
    using Event = SerialPortHotplug::Event;
    startWithOnePort();
    {
        std::lock_guard lock(source_->mutex);
        source_->nodes = QStringList{"/dev/ttyACM9", "/dev/ttyACM0"};
        source_->denied = {"/dev/ttyACM0"};
    }
    watch_->change();
    QTest::qWait(3 * SerialPortHotplug::notReadyRetryMs);
    EXPECT_TRUE(events_.empty());

    {
        std::lock_guard lock(source_->mutex);
        source_->denied.clear();
    }
    // No further change needed: the pending node is retried on its own.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events_.empty(); }, 2000));
    EXPECT_EQ(events_, std::vector{Event::attached("/dev/ttyACM0")});
}

TEST_F(SerialPortHotplugTest, NodeThatNeverOpensIsReportedAfterTheLimit) {
    using Event = SerialPortHotplug::Event;
    startWithOnePort();
    QElapsedTimer waited;
    waited.start();
    {
        std::lock_guard lock(source_->mutex);
        source_->nodes = QStringList{"/dev/ttyACM9", "/dev/ttyUSB0"};
        source_->denied = {"/dev/ttyUSB0"};
    }
    watch_->change();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events_.empty(); },
                                SerialPortHotplug::notReadyLimitMs + 2000));
    EXPECT_EQ(events_, std::vector{Event::attached("/dev/ttyUSB0")});
    EXPECT_GE(waited.elapsed(), SerialPortHotplug::notReadyLimitMs);
}

TEST_F(SerialPortHotplugTest, FailedListingDetachesNothingAndFailedWatchLogs) {
    using Event = SerialPortHotplug::Event;
    setNodes({"/dev/ttyACM0"});
    hotplug_->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events_.size() == 1; }, 2000));
    {
        std::lock_guard lock(source_->mutex);
        source_->nodes = std::nullopt;
    }
    watch_->change();
    QTest::qWait(3 * SerialPortHotplug::debounceMs);
    setNodes({});
    watch_->change();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events_.size() == 2; }, 2000));
    EXPECT_EQ(events_[1], Event::detached("/dev/ttyACM0"));
    hotplug_->stop();

    QStringList errors;
    SerialDiagnostics::setOnUILine(
        [&](const QString&, const QString& summary, const QStringList&) { errors << summary; });
    watch_->opens = false;
    hotplug_->start();
    hotplug_->stop();
    SerialDiagnostics::setOnUILine({});
    EXPECT_EQ(errors, QStringList{"hotplug: add matched notification failed"});
}

} // namespace
} // namespace orvane
