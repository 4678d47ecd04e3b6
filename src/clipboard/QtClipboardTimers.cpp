#include "clipboard/QtClipboardTimers.h"

#include <QDateTime>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace orvane {

namespace {

class QtTimer final : public ClipboardTimers::Timer {
public:
    explicit QtTimer(QTimer* timer)
        : timer_(timer) {}

    ~QtTimer() override {
        if (!timer_) {
            return; // the factory, and its timers with it, went first
        }
        timer_->stop();
        timer_->disconnect();
        // The handle may be dropped from the timer's own timeout handler: deleting the
        // QTimer right there would pull it out from under its own signal emission.
        timer_->deleteLater();
    }

private:
    QPointer<QTimer> timer_;
};

} // namespace

QtClipboardTimers::QtClipboardTimers(QObject* parent)
    : QObject(parent) {}

qint64 QtClipboardTimers::nowMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}

std::unique_ptr<ClipboardTimers::Timer> QtClipboardTimers::start(std::chrono::milliseconds interval,
                                                                 bool repeating,
                                                                 std::function<void()> fire) {
    Q_ASSERT(QThread::currentThread() == thread());
    auto* timer = new QTimer(this);
    timer->setSingleShot(!repeating);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    connect(timer, &QTimer::timeout, this, [fire = std::move(fire)] { fire(); });
    timer->start();
    return std::make_unique<QtTimer>(timer);
}

} // namespace orvane
