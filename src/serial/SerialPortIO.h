#pragma once

#include "common/Result.h"
#include "serial/SerialErrorKind.h"

#include <QString>
#include <QtGlobal>

namespace orvane {

// A failed system call: the error number, what it means for the connection logic, and the
// system's text for it (display only).
struct SerialSystemError {
    int code = 0;
    QString text;
    SerialErrorKind kind = SerialErrorKind::other;
};

// The outcome of one read() or write() on a port descriptor.
struct SerialIOCount {
    qint64 count = 0;       // bytes moved; negative when the call failed
    bool transient = false; // failed with EINTR/EAGAIN: the same call may simply be retried
    QString errorText;      // the system's text when the call failed
    SerialErrorKind kind = SerialErrorKind::other;
};

// The operating-system side of one serial port session: the few terminal and descriptor
// calls the session needs, so that its logic (retries, fallbacks, reconnects, framing)
// stays free of platform headers and can be driven against a pseudo-terminal or with
// individual calls overridden.
//
// One instance belongs to one session. All calls except wake() are made by the session
// under its own locks; wake() may be called from any thread at any time.
class SerialPortIO {
public:
    virtual ~SerialPortIO() = default;

    enum class RawModeStep { getAttributes, setAttributes };
    struct RawModeFailure {
        RawModeStep step;
        SerialSystemError error;
    };

    enum class WaitResult {
        readable, // the descriptor has bytes to read
        hangup,   // the descriptor reported an error or a hang-up
        woken,    // wake() was called
        timedOut,
    };

    virtual bool pathExists(const QString& path) = 0;

    // Opens the node for reading and writing, without making it the controlling terminal,
    // and takes it for exclusive use. When another user holds it, fails with kind `busy`
    // whatever the mechanism that refused.
    virtual Result<int, SerialSystemError> openExclusive(const QString& path) = 0;

    // Gives up exclusive use and closes the descriptor. Errors are ignored.
    virtual void closePort(int fd) = 0;

    // Raw 8N1 without flow control, non-canonical reads that never wait, at `initialBaud`.
    virtual Status<RawModeFailure> makeRaw(int fd, qint64 initialBaud) = 0;

    // Sets input and output speed to `baud`, any rate the driver accepts. Returns the speed
    // in force afterwards as the driver reports it.
    virtual Result<qint64, SerialSystemError> setSpeed(int fd, qint64 baud) = 0;

    // Asks the driver for its lowest receive latency (true) or its bulk-friendly default
    // (false). Best effort: drivers that have no such setting ignore it.
    virtual void requestLowLatency(int fd, bool low) = 0;

    virtual void setNonBlocking(int fd) = 0;

    // Whether the descriptor is still open (fcntl(F_GETFD) succeeds).
    virtual bool isDescriptorOpen(int fd) = 0;

    // Whether the descriptor still leads to a device: it is open, fstat() works and the
    // line has not been hung up (a removed USB device or a closed pseudo-terminal master
    // leaves an open but hung-up descriptor behind).
    virtual bool isUsable(int fd) = 0;

    // Waits at most `timeoutMs` until `fd` is readable or reports an error, or wake() is
    // called. With fd < 0 only wake() and the time-out end the wait. A pending wake-up is
    // consumed by the wait that reports it.
    virtual WaitResult wait(int fd, int timeoutMs) = 0;

    // Ends the current or the next wait() early. Safe from any thread.
    virtual void wake() = 0;

    virtual SerialIOCount readSome(int fd, char* buffer, qint64 capacity) = 0;
    virtual SerialIOCount writeSome(int fd, const char* data, qint64 length) = 0;

    // Waits at most `timeoutMs` until the descriptor can take more bytes.
    virtual void waitWritable(int fd, int timeoutMs) = 0;
};

} // namespace orvane
