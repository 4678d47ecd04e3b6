#include "platform/linux/wayland/DataControlThread.h"

#include "platform/linux/wayland/DataControlDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

namespace orvane {

namespace {

constexpr qsizetype chunkSize = 64 * 1024;

// A reader that closes its end early would otherwise kill the process with SIGPIPE. The
// signal is blocked on this thread only and taken back after each EPIPE.
void blockBrokenPipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void discardBrokenPipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec zero{0, 0};
    while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
    }
}

} // namespace

struct DataControlThread::Reading {
    DataControlSession::Offer* offer;
    DataControlFormats::ReadPlan plan;
    quint64 generation;
    QByteArray mimeType;
    int fd = -1;
    QByteArray bytes;
    Clock::time_point lastProgress;
};

struct DataControlThread::Writer {
    int fd;
    QByteArray bytes;
    qsizetype offset = 0;
    Clock::time_point lastProgress;
};

DataControlThread::DataControlThread(Limits limits, Callbacks callbacks)
    : limits_(limits)
    , callbacks_(std::move(callbacks)) {}

DataControlThread::~DataControlThread() {
    if (thread_.joinable()) {
        stopping_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    abandonReading();
    for (auto& writer : writers_) {
        ::close(writer->fd);
    }
    writers_.clear();
    if (session_) {
        for (const auto& [offer, types] : offers_) {
            session_->destroyOffer(offer);
        }
        for (const auto& [source, formats] : sources_) {
            session_->destroySource(source);
        }
        session_.reset();
    }
    if (display_) {
        wl_display_disconnect(display_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

std::optional<QString> DataControlThread::start() {
    display_ = wl_display_connect(nullptr);
    if (!display_) {
        return QStringLiteral("no Wayland compositor to connect to");
    }
    const std::optional<DataControlGlobals> globals = DataControlDiscovery::find(display_);
    if (!globals) {
        return QStringLiteral("the compositor offers no clipboard data control");
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return QStringLiteral("eventfd failed (errno %1)").arg(errno);
    }
    session_ = DataControlSession::create(display_, *globals, *this);
    thread_ = std::thread([this] { run(); });
    return std::nullopt;
}

void DataControlThread::setSelection(QList<DataControlFormats::OfferedFormat> formats,
                                     quint64 generation) {
    {
        const std::lock_guard lock(requestsMutex_);
        requests_.push_back({std::move(formats), generation});
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void DataControlThread::run() {
    // Named, so that its wakeups can be told apart in /proc and top.
    pthread_setname_np(pthread_self(), threadName);
    blockBrokenPipe();
    while (!stopping_ && !failed_ && pollOnce()) {
    }
}

void DataControlThread::fail(const QString& reason) {
    if (!failed_) {
        failed_ = true;
        callbacks_.lost(reason);
    }
}

// One turn of the loop: flush requests, wait for the compositor, the owner or a pipe,
// then serve whichever is ready. False once the connection is gone.
bool DataControlThread::pollOnce() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            fail(QStringLiteral("Wayland connection lost (errno %1)")
                     .arg(wl_display_get_error(display_)));
            return false;
        }
    }
    short displayEvents = POLLIN;
    if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display_);
            fail(QStringLiteral("Wayland connection lost (errno %1)").arg(errno));
            return false;
        }
        displayEvents |= POLLOUT; // the socket is full: flush again once it drains
    }

    std::vector<pollfd> fds{{wl_display_get_fd(display_), displayEvents, 0}, {wakeFd_, POLLIN, 0}};
    const bool readingPolled = reading_ && reading_->fd >= 0;
    if (readingPolled) {
        fds.push_back({reading_->fd, POLLIN, 0});
    }
    const std::size_t firstWriter = fds.size();
    for (const auto& writer : writers_) {
        fds.push_back({writer->fd, POLLOUT, 0});
    }
    if (::poll(fds.data(), fds.size(), nextTimeoutMs()) < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        fail(QStringLiteral("poll failed (errno %1)").arg(errno));
        return false;
    }

    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
        if (wl_display_read_events(display_) < 0) {
            fail(QStringLiteral("Wayland connection lost (errno %1)").arg(errno));
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
    }

    // Pipes first: the events dispatched below may close them.
    if (readingPolled && fds[2].revents != 0) {
        readAvailable();
    }
    std::vector<Writer*> ready;
    for (std::size_t i = firstWriter; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            ready.push_back(writers_[i - firstWriter].get());
        }
    }
    for (Writer* writer : ready) {
        writeAvailable(*writer);
    }
    std::erase_if(writers_, [](const auto& writer) { return writer->fd < 0; });

    if (wl_display_dispatch_pending(display_) < 0) {
        fail(QStringLiteral("Wayland connection lost (errno %1)")
                 .arg(wl_display_get_error(display_)));
        return false;
    }
    if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        handleRequests();
    }
    expireStalled();
    return true;
}

int DataControlThread::nextTimeoutMs() const {
    std::optional<Clock::time_point> deadline;
    if (reading_ && reading_->fd >= 0) {
        deadline = reading_->lastProgress + limits_.readStall;
    }
    for (const auto& writer : writers_) {
        const Clock::time_point due = writer->lastProgress + limits_.writeStall;
        deadline = deadline ? std::min(*deadline, due) : due;
    }
    if (!deadline) {
        return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return int(std::clamp<std::int64_t>(left, 0, 60'000));
}

void DataControlThread::expireStalled() {
    const Clock::time_point now = Clock::now();
    if (reading_ && reading_->fd >= 0 && now - reading_->lastProgress >= limits_.readStall) {
        finishFormat(std::nullopt);
    }
    for (auto& writer : writers_) {
        if (now - writer->lastProgress >= limits_.writeStall) {
            ::close(writer->fd);
            writer->fd = -1;
        }
    }
    std::erase_if(writers_, [](const auto& writer) { return writer->fd < 0; });
}

void DataControlThread::assertConnectionThread() const {
    Q_ASSERT(std::this_thread::get_id() == thread_.get_id());
}

void DataControlThread::handleRequests() {
    assertConnectionThread();
    std::vector<Request> requests;
    {
        const std::lock_guard lock(requestsMutex_);
        requests.swap(requests_);
    }
    for (Request& request : requests) {
        generation_ = request.generation;
        // The clipboard is about to be ours: what another program offered is stale.
        abandonReading();
        QList<QByteArray> types;
        for (const auto& format : request.formats) {
            types.append(format.mimeType);
        }
        if (types.isEmpty()) {
            types.append(DataControlFormats::ownSourceMarker);
        }
        sources_[session_->setSelection(types)] = std::move(request.formats);
    }
}

// Reading another program's data ------------------------------------------------------

void DataControlThread::readNextFormat() {
    while (reading_) {
        const std::optional<QByteArray> next = reading_->plan.next();
        if (!next) {
            callbacks_.selectionRead(reading_->plan.reading(), reading_->generation);
            reading_.reset();
            return;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            reading_->plan.received(*next, std::nullopt);
            continue;
        }
        session_->receive(reading_->offer, *next, ends[1]);
        ::close(ends[1]); // sent with the request; only the other program writes now
        reading_->mimeType = *next;
        reading_->fd = ends[0];
        reading_->bytes.clear();
        reading_->lastProgress = Clock::now();
        return;
    }
}

void DataControlThread::readAvailable() {
    for (;;) {
        const qsizetype size = reading_->bytes.size();
        reading_->bytes.resize(size + chunkSize);
        const ssize_t got = ::read(reading_->fd, reading_->bytes.data() + size, chunkSize);
        reading_->bytes.resize(size + std::max<ssize_t>(got, 0));
        if (got > 0) {
            reading_->lastProgress = Clock::now();
            if (reading_->bytes.size() > limits_.readCap) {
                finishFormat(std::nullopt);
                return;
            }
            continue;
        }
        if (got == 0) {
            // The buffer grew by doubling; the history may keep it for a long time.
            reading_->bytes.squeeze();
            finishFormat(std::move(reading_->bytes));
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            finishFormat(std::nullopt);
        }
        return;
    }
}

void DataControlThread::finishFormat(std::optional<QByteArray> bytes) {
    ::close(reading_->fd);
    reading_->fd = -1;
    reading_->plan.received(reading_->mimeType, std::move(bytes));
    reading_->bytes = QByteArray();
    readNextFormat();
}

void DataControlThread::abandonReading() {
    if (reading_ && reading_->fd >= 0) {
        ::close(reading_->fd);
    }
    reading_.reset();
}

void DataControlThread::dropOffer(DataControlSession::Offer* offer) {
    if (offer && offers_.erase(offer) != 0) {
        session_->destroyOffer(offer);
    }
}

void DataControlThread::offerCreated(DataControlSession::Offer* offer) {
    offers_.try_emplace(offer);
}

void DataControlThread::offerType(DataControlSession::Offer* offer, const char* mimeType) {
    offers_[offer].append(QByteArray(mimeType));
}

void DataControlThread::selectionChanged(DataControlSession::Offer* offer) {
    assertConnectionThread();
    abandonReading();
    if (selection_ != offer) {
        dropOffer(selection_);
    }
    selection_ = offer;
    if (!offer) {
        callbacks_.selectionRead({}, generation_);
        return;
    }
    DataControlFormats::ReadPlan plan(offers_[offer]);
    if (plan.isOwn()) {
        return; // our own data, back from the compositor: already known
    }
    reading_ =
        std::make_unique<Reading>(Reading{offer, std::move(plan), generation_, {}, -1, {}, {}});
    readNextFormat();
}

void DataControlThread::primarySelectionChanged(DataControlSession::Offer* offer) {
    dropOffer(offer);
}

void DataControlThread::deviceFinished() {
    fail(QStringLiteral("the compositor withdrew the clipboard device"));
}

// Serving our own data -----------------------------------------------------------------

void DataControlThread::sendRequested(DataControlSession::Source* source, const char* mimeType,
                                      int fd) {
    assertConnectionThread();
    auto found = sources_.find(source);
    if (found == sources_.end()) {
        ::close(fd);
        return;
    }
    for (auto& format : found->second) {
        if (format.mimeType != mimeType) {
            continue;
        }
        if (format.pngFromJpeg) {
            format.bytes = DataControlFormats::pngFromJpeg(format.bytes);
            format.pngFromJpeg = false;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        writers_.push_back(std::make_unique<Writer>(Writer{fd, format.bytes, 0, Clock::now()}));
        return;
    }
    ::close(fd);
}

void DataControlThread::writeAvailable(Writer& writer) {
    while (writer.offset < writer.bytes.size()) {
        const qsizetype length = std::min(chunkSize, writer.bytes.size() - writer.offset);
        const ssize_t written =
            ::write(writer.fd, writer.bytes.constData() + writer.offset, length);
        if (written > 0) {
            writer.offset += written;
            writer.lastProgress = Clock::now();
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            return;
        }
        if (written < 0 && errno == EPIPE) {
            discardBrokenPipe();
        }
        break; // the reader went away
    }
    ::close(writer.fd);
    writer.fd = -1;
}

void DataControlThread::sourceCancelled(DataControlSession::Source* source) {
    // Transfers under way keep their bytes and finish.
    sources_.erase(source);
    session_->destroySource(source);
}

} // namespace orvane
