#pragma once

#include "serial/SerialPortIO.h"

namespace orvane {

// The Linux serial port calls of one session.
//
// Exclusive use: O_EXCL means nothing for a tty on Linux, so a port is taken with flock()
// (which refuses every other flock user, root included) and TIOCEXCL (which refuses
// every later open() except by privileged processes). Either refusal is reported as the
// system's EBUSY text so callers can treat "busy" alike.
//
// The port is opened with O_NONBLOCK so that open() never waits for a carrier signal;
// reads and writes stay non-blocking throughout. Waits use poll() on the port together
// with an eventfd, which wake() signals.
//
// The speed and latency calls are virtual so that tests can stand in for a driver that
// refuses them; a pseudo-terminal accepts any speed.
class PosixSerialPortIO : public SerialPortIO {
public:
    PosixSerialPortIO();
    ~PosixSerialPortIO() override;

    PosixSerialPortIO(const PosixSerialPortIO&) = delete;
    PosixSerialPortIO& operator=(const PosixSerialPortIO&) = delete;

    bool pathExists(const QString& path) override;
    Result<int, SerialSystemError> openExclusive(const QString& path) override;
    void closePort(int fd) override;
    Status<RawModeFailure> makeRaw(int fd, qint64 initialBaud) override;
    Result<qint64, SerialSystemError> setSpeed(int fd, qint64 baud) override;
    // ASYNC_LOW_LATENCY through TIOCSSERIAL; drivers without it (CDC-ACM, pseudo-terminals)
    // refuse, which is ignored.
    void requestLowLatency(int fd, bool low) override;
    void setNonBlocking(int fd) override;
    bool isDescriptorOpen(int fd) override;
    bool isUsable(int fd) override;
    WaitResult wait(int fd, int timeoutMs) override;
    void wake() override;
    SerialIOCount readSome(int fd, char* buffer, qint64 capacity) override;
    SerialIOCount writeSome(int fd, const char* data, qint64 length) override;
    void waitWritable(int fd, int timeoutMs) override;

private:
    // -1 when no eventfd could be made; waits then end only by their time-out.
    int wakeFd_ = -1;
};

} // namespace orvane
