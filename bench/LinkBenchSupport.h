#pragma once

// What the link benchmarks share: a 4 MiB file to push under fresh names, and a responder
// that acknowledges every TRANS frame at once and stores nothing, the bound the link
// itself sets.

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "support/TestData.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane::bench {

inline constexpr qsizetype pushBytes = 4 * 1024 * 1024;
inline constexpr int pushWaitMs = 120000;

// The event loop the benchmarked stack needs, made once per benchmark program.
inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "orvane_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline bool makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

inline bool writeAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes = bytes.sliced(n);
    }
    return true;
}

// Reads from `fd` into `buffer` until a whole frame can be cut out of it or `deadline`
// passes.
inline std::optional<QByteArray> readFrame(int fd, QByteArray& buffer,
                                           const QDeadlineTimer& deadline) {
    QList<FrameIssue> issues;
    for (;;) {
        if (auto frame = ProtocolWire::extractFrame(buffer, issues)) {
            return frame;
        }
        const qint64 left = deadline.remainingTime();
        if (left == 0) {
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(left < 0 ? 100 : left, 100))) <= 0) {
            continue;
        }
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            return std::nullopt;
        }
    }
}

// The file to push, under a new name each time (a link to the same bytes), as different
// items are: pushed under the same name again, a push would also time the removal of
// the previous file from the day's folder (about 1.3 ms per 4 MiB on ext4 here).
struct PushSetup {
    QTemporaryDir dir;
    QString file;
    int pushes = 0;

    PushSetup() {
        file = dir.filePath(QStringLiteral("bench.bin"));
        QFile out(file);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(patternedBytes(pushBytes));
        }
    }

    QString nextName() {
        const QString name = dir.filePath(QStringLiteral("push-%1.bin").arg(++pushes));
        QFile::link(file, name);
        return name;
    }
};

// Echoes probes and acknowledges every TRANS frame with a success GENERAL_REPLY, on its
// own thread, until stopped.
class BareResponder {
public:
    explicit BareResponder(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ >= 0 && makeRaw(fd_)) {
            thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
        }
    }
    ~BareResponder() {
        if (thread_.joinable()) {
            thread_.request_stop();
            thread_.join();
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool isRunning() const { return thread_.joinable(); }

private:
    void run(std::stop_token stop) {
        QByteArray buffer;
        while (!stop.stop_requested()) {
            const auto frame = readFrame(fd_, buffer, QDeadlineTimer(100));
            if (!frame) {
                continue;
            }
            const auto header = ProtocolWire::parseHeader(*frame);
            if (header->channel == FrameChannel::peripheral) {
                writeAll(fd_, *frame);
            } else if (header->channel == FrameChannel::trans &&
                       header->type != FrameType::GENERAL_REPLY) {
                writeAll(fd_, ProtocolWire::buildPacket(FrameChannel::trans,
                                                        FrameType::GENERAL_REPLY, header->sn,
                                                        TransWire::buildGeneralReplyPayload(true)));
            }
        }
    }

    int fd_;
    std::jthread thread_;
};

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace orvane::bench
