#include "platform/linux/PosixSerialPortIO.h"

#include "platform/linux/LinuxSerialErrors.h"
#include "platform/linux/LinuxSerialSpeed.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace orvane {

namespace {

using LinuxSerialErrors::Call;

SerialSystemError openError(int code) {
    // Refused by flock() or TIOCEXCL: "busy" whichever of the two it was.
    return LinuxSerialErrors::error(code == EWOULDBLOCK ? EBUSY : code, Call::open);
}

SerialIOCount ioResult(ssize_t result) {
    if (result >= 0) {
        return {qint64(result), false, {}, SerialErrorKind::other};
    }
    const int code = errno;
    const SerialSystemError error = LinuxSerialErrors::error(code, Call::transfer);
    return {-1, code == EINTR || code == EAGAIN || code == EWOULDBLOCK, error.text, error.kind};
}

constexpr short brokenEvents = POLLERR | POLLHUP | POLLNVAL;

speed_t speedConstant(qint64 baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

} // namespace

PosixSerialPortIO::PosixSerialPortIO()
    : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PosixSerialPortIO::~PosixSerialPortIO() {
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool PosixSerialPortIO::pathExists(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

Result<int, SerialSystemError> PosixSerialPortIO::openExclusive(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(openError(errno));
    }
    // The lock comes first: a loser must not touch TIOCEXCL, which belongs to the holder.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(openError(code));
    }
    // Refused by non-tty nodes; the terminal setup that follows reports those properly.
    (void)ioctl(fd, TIOCEXCL);
    return fd;
}

void PosixSerialPortIO::closePort(int fd) {
    if (fd < 0) {
        return;
    }
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd); // also releases the flock
}

Status<SerialPortIO::RawModeFailure> PosixSerialPortIO::makeRaw(int fd, qint64 initialBaud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return fail(RawModeFailure{RawModeStep::getAttributes,
                                   LinuxSerialErrors::error(errno, Call::configure)});
    }
    // Every byte must arrive as sent: no break, parity or newline processing, no software
    // flow control (its XON/XOFF bytes occur in binary frames).
    tio.c_iflag &=
        ~tcflag_t(BRKINT | INPCK | ISTRIP | ICRNL | IXON | IXOFF | IXANY | INLCR | IGNCR | PARMRK);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | HUPCL | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (const speed_t speed = speedConstant(initialBaud); speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return fail(RawModeFailure{RawModeStep::setAttributes,
                                   LinuxSerialErrors::error(errno, Call::configure)});
    }
    return Done{};
}

Result<qint64, SerialSystemError> PosixSerialPortIO::setSpeed(int fd, qint64 baud) {
    return LinuxSerialSpeed::setSpeed(fd, baud);
}

void PosixSerialPortIO::requestLowLatency(int fd, bool low) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) {
        return;
    }
    const int flags = low ? (info.flags | ASYNC_LOW_LATENCY) : (info.flags & ~ASYNC_LOW_LATENCY);
    if (flags == info.flags) {
        return;
    }
    info.flags = flags;
    (void)ioctl(fd, TIOCSSERIAL, &info);
}

void PosixSerialPortIO::setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

bool PosixSerialPortIO::isDescriptorOpen(int fd) {
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

bool PosixSerialPortIO::isUsable(int fd) {
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return false;
    }
    // An unplugged device leaves the descriptor open and fstat() working; only the hang-up
    // shows that it leads nowhere now.
    pollfd probe{fd, POLLIN, 0};
    if (poll(&probe, 1, 0) < 0) {
        return errno == EINTR;
    }
    return (probe.revents & brokenEvents) == 0;
}

SerialPortIO::WaitResult PosixSerialPortIO::wait(int fd, int timeoutMs) {
    pollfd fds[2];
    nfds_t count = 0;
    int portIndex = -1;
    int wakeIndex = -1;
    if (fd >= 0) {
        portIndex = int(count);
        fds[count++] = pollfd{fd, POLLIN, 0};
    }
    if (wakeFd_ >= 0) {
        wakeIndex = int(count);
        fds[count++] = pollfd{wakeFd_, POLLIN, 0};
    }
    if (count == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return WaitResult::timedOut;
    }
    if (poll(fds, count, timeoutMs) <= 0) {
        return WaitResult::timedOut; // time-out, or a signal: the caller simply waits again
    }
    bool woken = false;
    if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN) != 0) {
        eventfd_t value = 0;
        (void)eventfd_read(wakeFd_, &value);
        woken = true;
    }
    if (portIndex >= 0) {
        const short events = fds[portIndex].revents;
        if ((events & brokenEvents) != 0) {
            return WaitResult::hangup;
        }
        if ((events & POLLIN) != 0) {
            return WaitResult::readable;
        }
    }
    return woken ? WaitResult::woken : WaitResult::timedOut;
}

void PosixSerialPortIO::wake() {
    if (wakeFd_ >= 0) {
        (void)eventfd_write(wakeFd_, 1);
    }
}

SerialIOCount PosixSerialPortIO::readSome(int fd, char* buffer, qint64 capacity) {
    return ioResult(::read(fd, buffer, size_t(capacity)));
}

SerialIOCount PosixSerialPortIO::writeSome(int fd, const char* data, qint64 length) {
    return ioResult(::write(fd, data, size_t(length)));
}

void PosixSerialPortIO::waitWritable(int fd, int timeoutMs) {
    pollfd probe{fd, POLLOUT, 0};
    (void)poll(&probe, 1, timeoutMs);
}

} // namespace orvane
