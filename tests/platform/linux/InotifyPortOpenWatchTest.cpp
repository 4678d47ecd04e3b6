#include "platform/linux/InotifyPortOpenWatch.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <mutex>
#include <pty.h>
#include <unistd.h>

namespace orvane {
namespace {

// What the watch reported so far, from its own thread.
struct Reports {
    std::mutex lock;
    SerialPortOpenWatch::Events seen;

    SerialPortOpenWatch::Callback callback() {
        return [this](const SerialPortOpenWatch::Events& events) {
            std::lock_guard guard(lock);
            seen.opened |= events.opened;
            seen.closed |= events.closed;
            seen.gone |= events.gone;
        };
    }
    SerialPortOpenWatch::Events take() {
        std::lock_guard guard(lock);
        return std::exchange(seen, {});
    }
    // Waits (bounded) until a report has `flag` set; returns everything reported meanwhile.
    SerialPortOpenWatch::Events waitFor(bool SerialPortOpenWatch::Events::*flag) {
        SerialPortOpenWatch::Events all;
        (void)QTest::qWaitFor(
            [&] {
                const auto events = take();
                all.opened |= events.opened;
                all.closed |= events.closed;
                all.gone |= events.gone;
                return all.*flag;
            },
            5000);
        return all;
    }
};

TEST(InotifyPortOpenWatchTest, ReportsAnotherProcessOpeningAndClosingThePort) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int master = -1;
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave); // the device side keeps only the master, like the simulator's pair
    const QString link = dir.filePath("ttyACM0");
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(name), link));

    Reports reports;
    {
        InotifyPortOpenWatch watch;
        ASSERT_TRUE(watch.start(link, reports.callback()));
        EXPECT_FALSE(reports.take().opened); // starting to watch is no open of its own

        QProcess reader;
        reader.setStandardInputFile(link);
        reader.start("sleep", {"60"});
        ASSERT_TRUE(reader.waitForStarted());
        EXPECT_TRUE(reports.waitFor(&SerialPortOpenWatch::Events::opened).opened);

        reader.kill();
        reader.waitForFinished();
        EXPECT_TRUE(reports.waitFor(&SerialPortOpenWatch::Events::closed).closed);

        // The device goes: its node disappears with the master side.
        ::close(master);
        EXPECT_TRUE(reports.waitFor(&SerialPortOpenWatch::Events::gone).gone);
    }

    InotifyPortOpenWatch missing;
    EXPECT_FALSE(missing.start(dir.filePath("ttyACM404"), reports.callback()));
}

} // namespace
} // namespace orvane
