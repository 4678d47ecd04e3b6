#include "platform/linux/LinuxSerialSpeed.h"

#include "platform/linux/LinuxSerialErrors.h"

#include <asm/termbits.h>
#include <cerrno>
#include <iterator>
#include <sys/ioctl.h>

namespace orvane::LinuxSerialSpeed {

namespace {

struct StandardSpeed {
    qint64 rate;
    tcflag_t constant;
};

constexpr StandardSpeed standardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

SerialSystemError lastError() {
    return LinuxSerialErrors::error(errno, LinuxSerialErrors::Call::configure);
}

qint64 outputSpeed(const termios2& tio) {
    const tcflag_t constant = tio.c_cflag & CBAUD;
    if (constant == BOTHER) {
        return qint64(tio.c_ospeed);
    }
    for (const StandardSpeed& speed : standardSpeeds) {
        if (speed.constant == constant) {
            return speed.rate;
        }
    }
    return qint64(tio.c_ospeed);
}

} // namespace

Result<qint64, SerialSystemError> readSpeed(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return fail(lastError());
    }
    return outputSpeed(tio);
}

Result<qint64, SerialSystemError> setSpeed(int fd, qint64 baud) {
    if (baud <= 0 || baud > 0xFFFFFFFFLL) {
        return fail(LinuxSerialErrors::error(EINVAL, LinuxSerialErrors::Call::configure));
    }
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return fail(lastError());
    }
    tcflag_t constant = BOTHER;
    for (const StandardSpeed& speed : standardSpeeds) {
        if (speed.rate == baud) {
            constant = speed.constant;
            break;
        }
    }
    // The input speed is encoded above IBSHIFT; the same constant there means "as output".
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= constant | (constant << IBSHIFT);
    tio.c_ispeed = speed_t(baud);
    tio.c_ospeed = speed_t(baud);
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return fail(lastError());
    }
    return readSpeed(fd);
}

} // namespace orvane::LinuxSerialSpeed
