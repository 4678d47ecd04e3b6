#include "platform/linux/LinuxSerialDeviceSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace orvane {

namespace {

bool matchesAny(const QStringList& patterns, const QByteArray& name) {
    for (const QString& pattern : patterns) {
        if (::fnmatch(pattern.toLocal8Bit().constData(), name.constData(), 0) == 0) {
            return true;
        }
    }
    return false;
}

bool isCharacterDevice(const QByteArray& path, dev_t* rdev = nullptr) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    if (rdev) {
        *rdev = st.st_rdev;
    }
    return true;
}

// Names in a directory, or nothing when it cannot be read.
std::optional<QList<QByteArray>> directoryEntries(const QByteArray& directory) {
    DIR* dir = ::opendir(directory.constData());
    if (!dir) {
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") {
            names.append(name);
        }
    }
    ::closedir(dir);
    return names;
}

QString readTrimmed(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // sysfs attributes are one short line; the bound keeps a odd file from being slurped.
    return QString::fromUtf8(file.read(4096)).trimmed();
}

} // namespace

LinuxSerialDeviceSource::LinuxSerialDeviceSource()
    : LinuxSerialDeviceSource(Config{}) {}

LinuxSerialDeviceSource::LinuxSerialDeviceSource(Config config)
    : config_(std::move(config)) {}

QStringList LinuxSerialDeviceSource::watchedDirectories() const {
    QStringList dirs;
    for (const ScanDirectory& scan : config_.directories) {
        dirs.append(scan.directory);
    }
    return dirs;
}

std::optional<QStringList> LinuxSerialDeviceSource::listDeviceNodes() const {
    QStringList paths;
    bool listedAny = false;
    for (const ScanDirectory& scan : config_.directories) {
        const auto names = directoryEntries(QFile::encodeName(scan.directory));
        if (!names) {
            continue;
        }
        listedAny = true;
        for (const QByteArray& name : *names) {
            if (!matchesAny(scan.namePatterns, name)) {
                continue;
            }
            const QString path = scan.directory + u'/' + QFile::decodeName(name);
            if (isCharacterDevice(QFile::encodeName(path))) {
                paths.append(path);
            }
        }
    }
    if (!listedAny) {
        return std::nullopt;
    }
    return paths;
}

QMap<QString, std::optional<QString>> LinuxSerialDeviceSource::productNamesByPath() const {
    QMap<QString, std::optional<QString>> products;
    const auto ttys = directoryEntries(QFile::encodeName(config_.sysfsRoot + "/class/tty"));
    if (!ttys) {
        return products;
    }
    for (const QByteArray& name : *ttys) {
        std::optional<std::optional<QString>> product; // looked up once per tty at most
        for (const ScanDirectory& scan : config_.directories) {
            if (!matchesAny(scan.namePatterns, name)) {
                continue;
            }
            if (!product) {
                product = sysfsProductName(QFile::decodeName(name));
            }
            products.insert(scan.directory + u'/' + QFile::decodeName(name), *product);
        }
    }
    return products;
}

std::optional<QString> LinuxSerialDeviceSource::lookupProductName(const QString& path) const {
    const QFileInfo info(path);
    if (auto name = sysfsProductName(info.fileName())) {
        return name;
    }
    // A link such as /dev/serial/by-id/… names the tty only through its target.
    const QString target = info.canonicalFilePath();
    if (!target.isEmpty() && QFileInfo(target).fileName() != info.fileName()) {
        return sysfsProductName(QFileInfo(target).fileName());
    }
    return std::nullopt;
}

std::optional<QString> LinuxSerialDeviceSource::sysfsProductName(const QString& ttyName) const {
    if (ttyName.isEmpty() || ttyName.contains(u'/') || ttyName == u"." || ttyName == u"..") {
        return std::nullopt;
    }
    QString dir =
        QFileInfo(config_.sysfsRoot + "/class/tty/" + ttyName + "/device").canonicalFilePath();
    for (int level = 0; level < maxSysfsLevels && !dir.isEmpty(); ++level) {
        if (QFileInfo::exists(dir + "/idVendor")) {
            const QString product = readTrimmed(dir + "/product");
            if (!product.isEmpty()) {
                return product;
            }
        }
        const QString parent = QFileInfo(dir).path();
        if (parent == dir) {
            break; // reached "/"
        }
        dir = parent;
    }
    return std::nullopt;
}

bool LinuxSerialDeviceSource::pathExists(const QString& path) const {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

// The pid holding a flock() on the file with this device and inode, from /proc/locks.
// Lines read "1: FLOCK  ADVISORY  WRITE 1234 00:18:5 0 EOF" (blocked waiters carry "->").
static std::optional<QByteArray> flockHolder(const QByteArray& proc, dev_t device, ino_t inode) {
    QFile locks(QFile::decodeName(proc + "/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray wanted = QByteArray::number(major(device), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(device), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(quint64(inode));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == wanted) {
            return fields[4];
        }
    }
    return std::nullopt;
}

std::optional<QString> LinuxSerialDeviceSource::describePortOccupier(const QString& path) const {
    dev_t port = 0;
    if (!isCharacterDevice(QFile::encodeName(path), &port)) {
        return std::nullopt;
    }
    const QByteArray proc = QFile::encodeName(config_.procRoot);
    // A tty may be open in several processes (a terminal's other end, a monitor); the one
    // keeping us out is the holder of the exclusive lock, so it is named first.
    struct stat node {};
    if (::stat(QFile::encodeName(path).constData(), &node) == 0) {
        if (const auto pid = flockHolder(proc, node.st_dev, node.st_ino)) {
            const QString command = readTrimmed(QFile::decodeName(proc + '/' + *pid + "/comm"));
            if (!command.isEmpty()) {
                return command;
            }
        }
    }
    const auto processes = directoryEntries(proc);
    if (!processes) {
        return std::nullopt;
    }
    for (const QByteArray& pid : *processes) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric) {
            continue;
        }
        const QByteArray fdDir = proc + '/' + pid + "/fd";
        const auto fds = directoryEntries(fdDir); // fails for other users' processes
        if (!fds) {
            continue;
        }
        for (const QByteArray& fd : *fds) {
            dev_t held = 0;
            // stat() follows the descriptor's link to the open file itself, so a port opened
            // under another name (a symbolic link) still compares equal.
            if (isCharacterDevice(fdDir + '/' + fd, &held) && held == port) {
                const QString command = readTrimmed(QFile::decodeName(proc + '/' + pid + "/comm"));
                if (!command.isEmpty()) {
                    return command;
                }
            }
        }
    }
    return std::nullopt;
}

namespace {

// Pseudo-terminal slaves are character devices 136-143 (256 minors each); their index is
// what the master side's fdinfo reports as "tty-index".
std::optional<qint64> ptyIndex(dev_t device) {
    constexpr unsigned firstSlaveMajor = 136;
    constexpr unsigned slaveMajors = 8;
    const unsigned deviceMajor = major(device);
    if (deviceMajor < firstSlaveMajor || deviceMajor >= firstSlaveMajor + slaveMajors) {
        return std::nullopt;
    }
    return qint64(deviceMajor - firstSlaveMajor) * 256 + qint64(minor(device));
}

bool isPtyMasterOf(const QByteArray& procPid, const QByteArray& fd, qint64 index) {
    QFile info(QFile::decodeName(procPid + "/fdinfo/" + fd));
    if (!info.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray wanted = "tty-index:\t" + QByteArray::number(index);
    for (const QByteArray& line : info.read(4096).split('\n')) {
        if (line.trimmed() == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace

QStringList LinuxSerialDeviceSource::otherOpeners(const QString& path) const {
    dev_t port = 0;
    if (!isCharacterDevice(QFile::encodeName(path), &port)) {
        return {};
    }
    const std::optional<qint64> pty = ptyIndex(port);
    const QByteArray proc = QFile::encodeName(config_.procRoot);
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    const auto processes = directoryEntries(proc);
    if (!processes) {
        return {};
    }
    QList<std::pair<qint64, QString>> found;
    for (const QByteArray& pid : *processes) {
        bool numeric = false;
        const qint64 number = pid.toLongLong(&numeric);
        if (!numeric || pid == self) {
            continue;
        }
        const QByteArray procPid = proc + '/' + pid;
        const auto fds = directoryEntries(procPid + "/fd"); // fails for other users' processes
        if (!fds) {
            continue;
        }
        bool opener = false;
        bool peer = false;
        for (const QByteArray& fd : *fds) {
            dev_t held = 0;
            if (!isCharacterDevice(procPid + "/fd/" + fd, &held)) {
                continue;
            }
            if (held == port) {
                opener = true;
            } else if (pty && isPtyMasterOf(procPid, fd, *pty)) {
                peer = true;
            }
        }
        if (opener && !peer) {
            const QString command = readTrimmed(QFile::decodeName(procPid + "/comm"));
            found.append({number, command.isEmpty() ? QString::fromLatin1(pid) : command});
        }
    }
    std::sort(found.begin(), found.end());
    QStringList commands;
    for (const auto& entry : found) {
        commands.append(entry.second);
    }
    return commands;
}

bool LinuxSerialDeviceSource::tryOpenExclusive(const QString& path) const {
    // Non-blocking so a line without carrier cannot hold us in open().
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    // TIOCEXCL is deliberately left alone: clearing it again afterwards would also clear an
    // exclusive mode that a root-owned holder had set.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

bool LinuxSerialDeviceSource::isAccessible(const QString& path) const {
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0) {
        return true;
    }
    return errno != EACCES && errno != EPERM;
}

} // namespace orvane
