#include "platform/linux/InotifyDeviceWatch.h"

#include <QFile>

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <utility>

namespace orvane {

InotifyDeviceWatch::InotifyDeviceWatch(QStringList directories)
    : directories_(std::move(directories))
    , wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

InotifyDeviceWatch::~InotifyDeviceWatch() {
    if (inotifyFd_ >= 0) {
        ::close(inotifyFd_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool InotifyDeviceWatch::open() {
    if (inotifyFd_ >= 0) {
        return true;
    }
    if (wakeFd_ < 0) {
        return false;
    }
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int watched = 0;
    for (const QString& dir : std::as_const(directories_)) {
        // IN_MOVED_FROM as well: a node renamed away is gone just like a deleted one.
        if (::inotify_add_watch(fd, QFile::encodeName(dir).constData(),
                                IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB) >=
            0) {
            ++watched;
        }
    }
    if (watched == 0) {
        ::close(fd);
        return false;
    }
    inotifyFd_ = fd;
    return true;
}

SerialDeviceWatch::Wait InotifyDeviceWatch::waitForChange(int timeoutMs) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
    const int ready = ::poll(fds, inotifyFd_ >= 0 ? 2 : 1, timeoutMs);
    if (ready <= 0) {
        return Wait::timedOut; // EINTR counts as a time-out: the caller loops anyway
    }
    if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        (void)::read(wakeFd_, &count, sizeof count);
        return Wait::woken;
    }
    if (fds[1].revents & POLLIN) {
        // The events themselves do not matter, only that there were some (an overflow too).
        alignas(inotify_event) char buffer[4096];
        while (::read(inotifyFd_, buffer, sizeof buffer) > 0) {
        }
        return Wait::changed;
    }
    return Wait::timedOut;
}

void InotifyDeviceWatch::wake() {
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        (void)::write(wakeFd_, &one, sizeof one);
    }
}

} // namespace orvane
