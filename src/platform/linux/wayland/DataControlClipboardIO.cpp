#include "platform/linux/wayland/DataControlClipboardIO.h"

#include <QThread>

namespace orvane {

DataControlClipboardIO::DataControlClipboardIO(Log log, DataControlThread::Limits limits,
                                               QObject* parent)
    : QObject(parent)
    , log_(std::move(log)) {
    // The thread's callbacks are queued to this object; the thread ends before it does.
    DataControlThread::Callbacks callbacks;
    callbacks.selectionRead = [this](ClipboardReading reading, quint64 generation) {
        QMetaObject::invokeMethod(
            this,
            [this, reading = std::move(reading), generation]() mutable {
                selectionRead(std::move(reading), generation);
            },
            Qt::QueuedConnection);
    };
    callbacks.lost = [this](QString reason) {
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                lost_ = true;
                if (log_) {
                    log_(QStringLiteral("Clipboard: data control ended: %1").arg(reason));
                }
            },
            Qt::QueuedConnection);
    };
    thread_ = std::make_unique<DataControlThread>(limits, std::move(callbacks));
}

// The thread is stopped before the members its callbacks would reach are destroyed.
DataControlClipboardIO::~DataControlClipboardIO() {
    thread_.reset();
}

std::optional<QString> DataControlClipboardIO::start() {
    Q_ASSERT(QThread::currentThread() == thread());
    return thread_->start();
}

ClipboardReading DataControlClipboardIO::readContent() {
    Q_ASSERT(QThread::currentThread() == thread());
    return current_;
}

Status<ClipboardError> DataControlClipboardIO::writeContent(const ClipboardContent& content) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (lost_) {
        return fail(ClipboardError::writeFailed(QStringLiteral("no connection to the compositor")));
    }
    ++writeGeneration_;
    ++changeCount_;
    auto formats = DataControlFormats::offerFor(content);
    if (!formats) {
        // The old content goes all the same.
        current_ = {};
        thread_->setSelection({}, writeGeneration_);
        return fail(formats.error());
    }
    current_ = DataControlFormats::readBack(*formats);
    thread_->setSelection(std::move(*formats), writeGeneration_);
    return Done{};
}

void DataControlClipboardIO::setSettledChangeListener(std::function<void()> listener) {
    Q_ASSERT(QThread::currentThread() == thread());
    settledChange_ = std::move(listener);
}

void DataControlClipboardIO::selectionRead(ClipboardReading reading, quint64 generation) {
    // Read from a selection that one of our writes has replaced since.
    if (generation != writeGeneration_) {
        return;
    }
    current_ = std::move(reading);
    ++changeCount_;
    // A copy: the listener may replace itself.
    if (const std::function<void()> listener = settledChange_) {
        listener();
    }
}

} // namespace orvane
