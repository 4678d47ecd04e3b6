#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace orvane::testing {

// A serial "device" made of a pseudo-terminal pair: the test plays the device on the
// master side, and the session opens the slave through a symlink in a temporary
// directory, the way it opens /dev/ttyACM0. Unplugging closes the master and removes the
// symlink; plugging again puts a fresh pair behind the same name.
class PseudoTerminalPort {
public:
    explicit PseudoTerminalPort(const QString& name = QStringLiteral("ttyACM0"))
        : linkPath_(dir_.filePath(name)) {}
    // A port whose link sits in `directory`, next to other ports.
    PseudoTerminalPort(const QString& name, const QString& directory)
        : linkPath_(directory + u'/' + name) {}
    ~PseudoTerminalPort() { unplug(); }

    PseudoTerminalPort(const PseudoTerminalPort&) = delete;
    PseudoTerminalPort& operator=(const PseudoTerminalPort&) = delete;

    bool plug() {
        unplug();
        if (!dir_.isValid() || openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            return false;
        }
        // A slave starts in canonical mode with echo; the device side wants raw bytes from
        // the first moment on. The test keeps its own slave descriptor open so that the
        // master never sees a hang-up between the session's reopens.
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        // Programs a test starts must not inherit the device's end of the line.
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        const QByteArray target = ttyname(slave_);
        return ::symlink(target.constData(), QFile::encodeName(linkPath_).constData()) == 0;
    }

    void unplug() {
        QFile::remove(linkPath_);
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
        if (slave_ >= 0) {
            ::close(slave_);
            slave_ = -1;
        }
    }

    const QString& path() const { return linkPath_; }
    int slaveFd() const { return slave_; }
    int masterFd() const { return master_; }

    // Writes everything, waiting (bounded) while the pseudo-terminal's buffer is full.
    bool writeFromDevice(const QByteArray& data,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(master_, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            pollfd probe{master_, POLLOUT, 0};
            ::poll(&probe, 1, 10);
        }
        return true;
    }

    // Reads until `count` bytes arrived or the limit passed; returns what arrived.
    QByteArray readOnDevice(qsizetype count,
                            std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        QByteArray got;
        char buffer[65536];
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd probe{master_, POLLIN, 0};
            if (::poll(&probe, 1, 10) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
            }
        }
        return got;
    }

private:
    QTemporaryDir dir_;
    QString linkPath_;
    int master_ = -1;
    int slave_ = -1;
};

} // namespace orvane::testing
