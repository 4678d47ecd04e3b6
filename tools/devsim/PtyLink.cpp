#include "PtyLink.h"

#include "common/SystemErrorText.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace orvane::devsim {

namespace {

// Beyond this much unsent output the client has stopped reading; keeping more would only
// grow memory.
constexpr qsizetype maxOutboxBytes = 4 * 1024 * 1024;

QString errnoText() {
    return systemErrorText(errno);
}

bool makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

PtyLink::PtyLink(QString linkPath, QObject* parent)
    : QObject(parent)
    , linkPath_(std::move(linkPath)) {}

PtyLink::~PtyLink() {
    unplug();
}

Status<QString> PtyLink::plug() {
    unplug();
    const QByteArray link = QFile::encodeName(linkPath_);
    struct stat existing {};
    if (::lstat(link.constData(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        return fail(linkPath_ + QStringLiteral(" exists and is not a symlink; not replacing it"));
    }
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return fail(QStringLiteral("openpty failed: ") + errnoText());
    }
    const char* name = ::ttyname(slave);
    const QString slaveName = name ? QString::fromLocal8Bit(name) : QString();
    const bool configured = !slaveName.isEmpty() && makeRaw(slave) && makeRaw(master) &&
                            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) == 0 &&
                            ::fcntl(master, F_SETFD, FD_CLOEXEC) == 0 &&
                            ::fcntl(slave, F_SETFD, FD_CLOEXEC) == 0;
    // A new symlink renamed over the old one: the path never disappears while we replace it.
    const QByteArray temporary = link + ".devsim-new";
    ::unlink(temporary.constData());
    if (!configured ||
        ::symlink(QFile::encodeName(slaveName).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        const QString reason = errnoText();
        ::unlink(temporary.constData());
        ::close(master);
        ::close(slave);
        return fail(QStringLiteral("cannot set up ") + linkPath_ + QStringLiteral(": ") + reason);
    }
    masterFd_ = master;
    slaveFd_ = slave;
    slavePath_ = slaveName;
    readNotifier_ = std::make_unique<QSocketNotifier>(masterFd_, QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &PtyLink::readAvailable);
    writeNotifier_ = std::make_unique<QSocketNotifier>(masterFd_, QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this, &PtyLink::flushOutbox);
    return Done{};
}

void PtyLink::unplug() {
    if (!isPlugged()) {
        return;
    }
    readNotifier_.reset();
    writeNotifier_.reset();
    removeSymlinkIfOurs();
    ::close(masterFd_);
    ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
    slavePath_.clear();
    outbox_.clear();
}

bool PtyLink::write(const QByteArray& bytes) {
    if (!isPlugged()) {
        return false;
    }
    if (outbox_.size() + bytes.size() > maxOutboxBytes) {
        outbox_.clear();
    }
    outbox_.append(bytes);
    flushOutbox();
    return true;
}

void PtyLink::discardUnread() {
    if (isPlugged()) {
        ::tcflush(slaveFd_, TCIFLUSH);
        outbox_.clear();
        writeNotifier_->setEnabled(false);
    }
}

void PtyLink::readAvailable() {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
        if (n > 0) {
            emit bytesReceived(QByteArray(buffer, n));
            if (!isPlugged()) {
                return; // a handler unplugged us
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return; // EAGAIN: all read. We hold the slave open, so no hang-up can show here.
    }
}

void PtyLink::flushOutbox() {
    while (!outbox_.isEmpty()) {
        const ssize_t n = ::write(masterFd_, outbox_.constData(), size_t(outbox_.size()));
        if (n > 0) {
            outbox_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            outbox_.clear(); // the line is broken; retrying would only spin
        } else {
            break; // the line is full until the client reads
        }
    }
    writeNotifier_->setEnabled(!outbox_.isEmpty());
}

void PtyLink::removeSymlinkIfOurs() {
    const QByteArray link = QFile::encodeName(linkPath_);
    char target[4096];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    // Someone may have pointed the path elsewhere meanwhile; that link is not ours to remove.
    if (n > 0 && QFile::decodeName(QByteArray(target, n)) == slavePath_) {
        ::unlink(link.constData());
    }
}

} // namespace orvane::devsim
