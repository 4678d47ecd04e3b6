#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "serial/SerialPortHotplug.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>
#include <vector>

namespace orvane {
namespace {

using Event = SerialPortHotplug::Event;

class InotifyHotplugTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        char name[128] = {};
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        slavePath_ = QString::fromLocal8Bit(name);
    }
    void TearDown() override {
        ::close(slave_);
        ::close(master_);
    }

    std::unique_ptr<SerialPortHotplug> makeHotplug() {
        LinuxSerialDeviceSource::Config config;
        config.directories = {{dir_.path(), {"ttyACM*", "ttyUSB*"}}};
        config.sysfsRoot = dir_.filePath("no-sysfs");
        auto source = std::make_shared<LinuxSerialDeviceSource>(config);
        auto hotplug = std::make_unique<SerialPortHotplug>(
            source, std::make_unique<InotifyDeviceWatch>(source->watchedDirectories()));
        hotplug->onEvent = [this](const Event& event) {
            events_.push_back(event);
        };
        return hotplug;
    }

    bool waitForEvents(size_t count) {
        return QTest::qWaitFor([&] { return events_.size() >= count; }, 5000);
    }

    QString port(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    std::vector<Event> events_;
};

TEST_F(InotifyHotplugTest, ReportsPresentPortsThenAttachAndDetach) {
    ASSERT_TRUE(QFile::link(slavePath_, port("ttyACM0")));
    ASSERT_TRUE(QFile::link(slavePath_, port("ttyS0"))); // never a serial port name here
    auto hotplug = makeHotplug();
    hotplug->start();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events_[0], Event::attached(port("ttyACM0")));

    ASSERT_TRUE(QFile::link(slavePath_, port("ttyUSB3")));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events_[1], Event::attached(port("ttyUSB3")));

    ASSERT_TRUE(QFile::remove(port("ttyACM0")));
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events_[2], Event::detached(port("ttyACM0")));

    // A name outside the patterns causes a rescan but no event.
    ASSERT_TRUE(QFile::link(slavePath_, port("ttyS1")));
    ASSERT_TRUE(QFile::remove(port("ttyUSB3")));
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events_[3], Event::detached(port("ttyUSB3")));
    hotplug->stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(events_.size(), 4u);
}

TEST_F(InotifyHotplugTest, StopsPromptlyAndStartsAgainReportingPortsAfresh) {
    ASSERT_TRUE(QFile::link(slavePath_, port("ttyACM0")));
    auto hotplug = makeHotplug();
    hotplug->start();
    ASSERT_TRUE(waitForEvents(1));
    hotplug->stop();
    EXPECT_FALSE(hotplug->isStarted());

    // Changes while stopped are not reported...
    ASSERT_TRUE(QFile::link(slavePath_, port("ttyACM1")));
    QCoreApplication::processEvents();
    EXPECT_EQ(events_.size(), 1u);
    // ...and a new start reports everything present once.
    hotplug->start();
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events_[1], Event::attached(port("ttyACM0")));
    EXPECT_EQ(events_[2], Event::attached(port("ttyACM1")));
}

TEST(InotifyDeviceWatchTest, FailsWithoutAnyWatchableDirectoryAndWakes) {
    InotifyDeviceWatch nothing({"/nonexistent-orvane-dir"});
    EXPECT_FALSE(nothing.open());

    QTemporaryDir dir;
    InotifyDeviceWatch watch({dir.path()});
    ASSERT_TRUE(watch.open());
    EXPECT_EQ(watch.waitForChange(0), SerialDeviceWatch::Wait::timedOut);
    watch.wake();
    EXPECT_EQ(watch.waitForChange(1000), SerialDeviceWatch::Wait::woken);
    QFile file(dir.filePath("ttyACM0"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(watch.waitForChange(1000), SerialDeviceWatch::Wait::changed);
}

} // namespace
} // namespace orvane
