#pragma once

#include "serial/SerialDeviceSource.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace orvane {

// Serial ports on Linux: device nodes listed from directories, product names from sysfs,
// occupiers from /proc, the exclusive open through flock.
class LinuxSerialDeviceSource : public SerialDeviceSource {
public:
    struct ScanDirectory {
        QString directory;
        QStringList namePatterns; // shell patterns, e.g. "ttyACM*"
    };
    struct Config {
        // USB CDC ACM devices and USB serial adapters.
        QList<ScanDirectory> directories{
            {QStringLiteral("/dev"), {QStringLiteral("ttyACM*"), QStringLiteral("ttyUSB*")}}};
        QString sysfsRoot = QStringLiteral("/sys");
        QString procRoot = QStringLiteral("/proc");
    };

    // How far up from a tty's device directory we look for the USB device.
    static constexpr int maxSysfsLevels = 20;

    LinuxSerialDeviceSource();
    explicit LinuxSerialDeviceSource(Config config);

    const Config& config() const { return config_; }
    QStringList watchedDirectories() const;

    // Character devices (symbolic links to them included) whose names match a pattern.
    std::optional<QStringList> listDeviceNodes() const override;
    // Every tty in <sysfs>/class/tty whose name matches a pattern of a scanned directory,
    // as that directory's path.
    QMap<QString, std::optional<QString>> productNamesByPath() const override;
    // By the node's own name, then by the name it links to.
    std::optional<QString> lookupProductName(const QString& path) const override;
    bool pathExists(const QString& path) const override;
    // The process holding the port's flock() (from /proc/locks), else the first process in
    // /proc with a descriptor on the same character device. The descriptor scan sees only
    // what our permissions let us see, which for an ordinary user is our own processes.
    std::optional<QString> describePortOccupier(const QString& path) const override;
    // A scan of /proc/<pid>/fd by device number; the pseudo-terminal peer is recognised by
    // the "tty-index" that /proc/<pid>/fdinfo reports for a master descriptor.
    QStringList otherOpeners(const QString& path) const override;
    // open() plus flock(LOCK_EX | LOCK_NB), the lock every other careful opener takes too.
    bool tryOpenExclusive(const QString& path) const override;
    bool isAccessible(const QString& path) const override;

    // The product name sysfs gives the tty called `ttyName`: walking up from its device
    // directory, the first directory with an idVendor file and a non-empty product file.
    std::optional<QString> sysfsProductName(const QString& ttyName) const;

private:
    Config config_;
};

} // namespace orvane
