#include "platform/linux/InotifyPortOpenWatch.h"

#include <QFile>

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace orvane {

InotifyPortOpenWatch::InotifyPortOpenWatch()
    : stopFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

InotifyPortOpenWatch::~InotifyPortOpenWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    for (int fd : {inotifyFd_, stopFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool InotifyPortOpenWatch::start(const QString& path, Callback onEvents) {
    if (stopFd_ < 0 || inotifyFd_ >= 0 || !onEvents) {
        return false;
    }
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ < 0) {
        return false;
    }
    // inotify_add_watch() follows symbolic links, so a link such as /dev/serial/by-id/…
    // or the simulator's link watches the node itself.
    if (::inotify_add_watch(inotifyFd_, QFile::encodeName(path).constData(),
                            IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_DELETE_SELF) < 0) {
        ::close(inotifyFd_);
        inotifyFd_ = -1;
        return false;
    }
    thread_ = std::thread([this, onEvents = std::move(onEvents)] { run(onEvents); });
    const QByteArray name = QByteArray(threadName).mid(sizeof "com.orvane." - 1, 15);
    pthread_setname_np(thread_.native_handle(), name.constData());
    return true;
}

void InotifyPortOpenWatch::run(const Callback& onEvents) {
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        // No time-out: the destructor's eventfd ends the wait, and a quiet port must not
        // wake anyone up.
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            onEvents({false, false, true});
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        Events events;
        alignas(inotify_event) char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(inotifyFd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                events.opened |= (event->mask & IN_OPEN) != 0;
                events.closed |= (event->mask & IN_CLOSE) != 0;
                events.gone |= (event->mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT)) != 0;
                if (event->mask & IN_Q_OVERFLOW) {
                    // Lost events: anything may have happened.
                    events.opened = events.closed = true;
                }
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            events.gone = true;
        }
        if (events.opened || events.closed || events.gone) {
            onEvents(events);
        }
        if (events.gone) {
            return;
        }
    }
}

} // namespace orvane
