#include "platform/linux/LinuxSerialDeviceSource.h"

#include "serial/SerialPortDiscovery.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

// A pseudo-terminal pair whose slave stands in for a serial device node.
struct Pty {
    int master = -1;
    int slave = -1;
    QString slavePath;

    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slavePath = QString::fromLocal8Bit(name);
        }
    }
    ~Pty() {
        closeSlave();
        if (master >= 0) {
            ::close(master);
        }
    }
    void closeSlave() {
        if (slave >= 0) {
            ::close(slave);
            slave = -1;
        }
    }
};

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

class LinuxSerialDeviceSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir().mkpath(dev()));
        for (Pty* pty : {&a_, &b_, &c_}) {
            ASSERT_FALSE(pty->slavePath.isEmpty());
            pty->closeSlave(); // held open only where a test says so
        }
    }

    QString dev() const { return root_.filePath("dev"); }
    QString sys() const { return root_.filePath("sys"); }

    void link(const Pty& pty, const QString& name) {
        ASSERT_TRUE(QFile::link(pty.slavePath, dev() + "/" + name));
    }

    // <sys>/devices/usb1/<usbDevice> carries idVendor and product; the tty's device
    // directory sits `depth` levels below it, the way ACM (1) and USB serial (2) drivers
    // place it.
    void addSysfsTty(const QString& name, const QString& usbDevice, const QByteArray& product,
                     int depth) {
        const QString usb = sys() + "/devices/usb1/" + usbDevice;
        writeText(usb + "/idVendor", "1a86\n");
        writeText(usb + "/product", product);
        QString device = usb;
        for (int level = 0; level < depth; ++level) {
            device += QStringLiteral("/%1:1.%2").arg(usbDevice).arg(level);
        }
        ASSERT_TRUE(QDir().mkpath(device + "/tty/" + name));
        ASSERT_TRUE(QDir().mkpath(sys() + "/class/tty/" + name));
        ASSERT_TRUE(QFile::link(device, sys() + "/class/tty/" + name + "/device"));
    }

    LinuxSerialDeviceSource::Config config() const {
        LinuxSerialDeviceSource::Config cfg;
        cfg.directories = {{dev(), {"ttyACM*", "ttyUSB*"}}};
        cfg.sysfsRoot = sys();
        return cfg;
    }

    QTemporaryDir root_;
    Pty a_, b_, c_;
};

TEST_F(LinuxSerialDeviceSourceTest, ListsMatchingNodesSortedWithProductLabels) {
    link(a_, "ttyUSB1");
    link(b_, "ttyACM0");
    link(c_, "ttyUSB0");
    link(a_, "ttyS0");                                             // not a serial name
    ASSERT_TRUE(QFile::link(dev() + "/gone", dev() + "/ttyACM9")); // dangling link
    writeText(dev() + "/ttyACM7", "a regular file is no device");
    addSysfsTty("ttyACM0", "1-1", "Halvex KVM\n", 1);
    addSysfsTty("ttyUSB0", "1-2", "FT232R USB UART\n", 2);
    addSysfsTty("ttyUSB1", "1-3", "FT232R USB UART\n", 2);
    addSysfsTty("ttyACM5", "1-4", "Not plugged in\n", 1); // known to sysfs, no node here

    const SerialPortDiscovery discovery(std::make_shared<LinuxSerialDeviceSource>(config()));
    const QList<SerialPortInfo> ports = discovery.listPortsOnce();
    ASSERT_EQ(ports.size(), 3);
    EXPECT_EQ(ports[0], SerialPortInfo::make(dev() + "/ttyACM0", "Halvex KVM"));
    EXPECT_EQ(ports[1], SerialPortInfo::make(dev() + "/ttyUSB0", "FT232R USB UART"));
    EXPECT_EQ(ports[2], SerialPortInfo::make(dev() + "/ttyUSB1", "FT232R USB UART"));
    // Two adapters of one model differ only by path.
    EXPECT_EQ(ports[1].displayName(), "FT232R USB UART · " + dev() + "/ttyUSB0");
    EXPECT_NE(ports[1].displayName(), ports[2].displayName());
}

TEST_F(LinuxSerialDeviceSourceTest, LabelFallsBackToThePath) {
    link(a_, "ttyACM0"); // no sysfs entry at all
    link(b_, "ttyACM1");
    // A USB device that has no product string, above it nothing: no name.
    const QString usb = sys() + "/devices/usb1/1-1";
    writeText(usb + "/idVendor", "1a86\n");
    writeText(usb + "/product", "  \n");
    ASSERT_TRUE(QDir().mkpath(usb + "/1-1:1.0"));
    ASSERT_TRUE(QDir().mkpath(sys() + "/class/tty/ttyACM1"));
    ASSERT_TRUE(QFile::link(usb + "/1-1:1.0", sys() + "/class/tty/ttyACM1/device"));

    const SerialPortDiscovery discovery(std::make_shared<LinuxSerialDeviceSource>(config()));
    const QList<SerialPortInfo> ports = discovery.listPortsOnce();
    ASSERT_EQ(ports.size(), 2);
    EXPECT_EQ(ports[0].label, ports[0].path);
    EXPECT_EQ(ports[1].label, ports[1].path);
    EXPECT_EQ(ports[0].displayName(), ports[0].path);
}

TEST_F(LinuxSerialDeviceSourceTest, ProductNameSearchStopsAfterTwentyLevels) {
    QString device = sys() + "/devices/usb1/1-1";
    writeText(device + "/idVendor", "1a86\n");
    writeText(device + "/product", "Deep\n");
    for (int level = 0; level < 20; ++level) {
        device += "/d";
    }
    ASSERT_TRUE(QDir().mkpath(device));
    ASSERT_TRUE(QDir().mkpath(sys() + "/class/tty/ttyACM0"));
    ASSERT_TRUE(QFile::link(device, sys() + "/class/tty/ttyACM0/device"));
    const LinuxSerialDeviceSource source(config());
    EXPECT_EQ(source.sysfsProductName("ttyACM0"), std::nullopt);

    // One level less and it is found.
    QFile::remove(sys() + "/class/tty/ttyACM0/device");
    ASSERT_TRUE(QFile::link(QFileInfo(device).path(), sys() + "/class/tty/ttyACM0/device"));
    EXPECT_EQ(source.sysfsProductName("ttyACM0"), "Deep");
    EXPECT_EQ(source.sysfsProductName("../tty"), std::nullopt);
}

TEST_F(LinuxSerialDeviceSourceTest, NamesThisProcessAsTheHolderOfAnOpenPort) {
    Pty held;
    ASSERT_GE(held.slave, 0);
    ASSERT_TRUE(QFile::link(held.slavePath, dev() + "/ttyACM0"));
    const QString path = dev() + "/ttyACM0";
    QFile comm("/proc/self/comm");
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString self = QString::fromUtf8(comm.readAll()).trimmed();

    const SerialPortDiscovery discovery(std::make_shared<LinuxSerialDeviceSource>(config()));
    EXPECT_EQ(discovery.describePortOccupier(path), self);
    EXPECT_FALSE(discovery.canOpenPort(path));

    // Holding only the master side does not hold the port.
    held.closeSlave();
    EXPECT_EQ(discovery.describePortOccupier(path), std::nullopt);
    EXPECT_TRUE(discovery.canOpenPort(path));

    EXPECT_FALSE(discovery.canOpenPort(dev() + "/ttyACM404"));
}

TEST_F(LinuxSerialDeviceSourceTest, NamesTheLockHolderBeforeOtherProcessesWithThePortOpen) {
    Pty held; // this process keeps the port open too, without a lock
    ASSERT_GE(held.slave, 0);
    ASSERT_TRUE(QFile::link(held.slavePath, dev() + "/ttyACM0"));
    const QString path = dev() + "/ttyACM0";

    // util-linux flock(1) takes the lock and keeps it while its command runs. It waits for the
    // lock rather than giving up: the probe below takes the same lock for a moment each time.
    QProcess holder;
    holder.start("flock", {"--exclusive", path, "sleep", "30"});
    ASSERT_TRUE(holder.waitForStarted());
    const LinuxSerialDeviceSource source(config());
    const QDeadlineTimer deadline(5000);
    while (source.tryOpenExclusive(path) && !deadline.hasExpired()) {
        QThread::msleep(10);
    }
    ASSERT_FALSE(source.tryOpenExclusive(path));

    EXPECT_EQ(source.describePortOccupier(path), "flock");
    holder.kill();
    holder.waitForFinished();
}

TEST_F(LinuxSerialDeviceSourceTest, NamesOtherOpenersButNotOurselvesOrThePseudoTerminalPeer) {
    // The "device": another process that holds both sides of a pseudo-terminal, the way the
    // device simulator does. It is the line's other end, not a competing reader.
    QProcess peer;
    peer.start("python3", {"-c", "import os, pty, sys, time\n"
                                 "m, s = pty.openpty()\n"
                                 "print(os.ttyname(s), flush=True)\n"
                                 "time.sleep(60)\n"});
    ASSERT_TRUE(peer.waitForStarted());
    ASSERT_TRUE(peer.waitForReadyRead(10000));
    const QString slave = QString::fromLocal8Bit(peer.readLine()).trimmed();
    ASSERT_TRUE(QFile::link(slave, dev() + "/ttyACM0"));
    const QString path = dev() + "/ttyACM0";
    const LinuxSerialDeviceSource source(config());

    const int ours = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(ours, 0);
    EXPECT_EQ(source.otherOpeners(path), QStringList());

    // A program that simply opened the port, without any lock.
    QProcess reader;
    reader.setStandardInputFile(path);
    reader.start("sleep", {"60"});
    ASSERT_TRUE(reader.waitForStarted());
    const QDeadlineTimer deadline(5000);
    while (source.otherOpeners(path).isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(10);
    }
    EXPECT_EQ(source.otherOpeners(path), QStringList{"sleep"});
    EXPECT_TRUE(source.tryOpenExclusive(path)); // it takes no lock, so nothing keeps us out

    reader.kill();
    reader.waitForFinished();
    EXPECT_EQ(source.otherOpeners(path), QStringList());
    EXPECT_EQ(source.otherOpeners(dev() + "/ttyACM404"), QStringList());
    ::close(ours);
    peer.kill();
    peer.waitForFinished();
}

TEST_F(LinuxSerialDeviceSourceTest, ExclusiveOpenIsRefusedWhileAnotherLockIsHeld) {
    link(a_, "ttyUSB0");
    const QString path = dev() + "/ttyUSB0";
    const LinuxSerialDeviceSource source(config());
    EXPECT_TRUE(source.tryOpenExclusive(path));

    const int holder = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(source.tryOpenExclusive(path));
    ::close(holder);
    EXPECT_TRUE(source.tryOpenExclusive(path));
}

TEST_F(LinuxSerialDeviceSourceTest, NoReadableDirectoryIsNotAnEmptyList) {
    const LinuxSerialDeviceSource missing(LinuxSerialDeviceSource::Config{
        {{root_.filePath("nowhere"), {"ttyACM*"}}}, sys(), "/proc"});
    EXPECT_EQ(missing.listDeviceNodes(), std::nullopt);
    const LinuxSerialDeviceSource empty(config());
    EXPECT_EQ(empty.listDeviceNodes(), QStringList());
}

} // namespace
} // namespace orvane
