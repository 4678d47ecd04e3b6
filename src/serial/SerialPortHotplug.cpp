#include "serial/SerialPortHotplug.h"

#include "serial/SerialDiagnostics.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <utility>

namespace orvane {

SerialPortHotplug::SerialPortHotplug(std::shared_ptr<const SerialDeviceSource> source,
                                     std::unique_ptr<SerialDeviceWatch> watch, QObject* parent)
    : QObject(parent)
    , source_(std::move(source))
    , watch_(std::move(watch)) {
    Q_ASSERT(source_ && watch_);
}

SerialPortHotplug::~SerialPortHotplug() {
    stop();
}

void SerialPortHotplug::start() {
    if (started_) {
        return;
    }
    started_ = true;
    stopping_ = false;
    thread_.reset(QThread::create([this] { run(); }));
    thread_->setObjectName(QLatin1String(threadName));
    thread_->start();
}

void SerialPortHotplug::stop() {
    if (!started_) {
        return;
    }
    started_ = false;
    stopping_ = true;
    watch_->wake();
    // Every wait in run() is bounded and the wake ends the current one, so this returns
    // promptly; the thread uses this object and must be gone before it is.
    thread_->wait();
    thread_.reset();
}

void SerialPortHotplug::post(const Event& event) {
    // Queued to this object: if it is destroyed first, Qt drops the call.
    QMetaObject::invokeMethod(
        this,
        [this, event] {
            if (onEvent) {
                onEvent(event);
            }
        },
        Qt::QueuedConnection);
}

void SerialPortHotplug::run() {
    if (!watch_->open()) {
        SerialDiagnostics::error(QStringLiteral("hotplug: add matched notification failed"));
        return;
    }
    watching_ = true;

    QSet<QString> reported;
    QHash<QString, QElapsedTimer> notReady; // new nodes we could not open yet, since when

    auto rescan = [&](bool initial) {
        const auto nodes = source_->listDeviceNodes();
        if (!nodes) {
            return; // a failed listing says nothing about the ports; keep what we know
        }
        QStringList current = *nodes;
        std::sort(current.begin(), current.end());
        const QSet<QString> present(current.cbegin(), current.cend());

        QStringList gone;
        for (const QString& path : std::as_const(reported)) {
            if (!present.contains(path)) {
                gone.append(path);
            }
        }
        std::sort(gone.begin(), gone.end());
        for (const QString& path : gone) {
            reported.remove(path);
            post(Event::detached(path));
        }
        for (auto it = notReady.begin(); it != notReady.end();) {
            it = present.contains(it.key()) ? std::next(it) : notReady.erase(it);
        }
        for (const QString& path : current) {
            if (reported.contains(path)) {
                continue;
            }
            const auto waiting = notReady.constFind(path);
            const bool waitedEnough =
                waiting != notReady.cend() && waiting->hasExpired(notReadyLimitMs);
            if (initial || waitedEnough || source_->isAccessible(path)) {
                notReady.remove(path);
                reported.insert(path);
                post(Event::attached(path));
            } else if (waiting == notReady.cend()) {
                QElapsedTimer since;
                since.start();
                notReady.insert(path, since);
            }
        }
    };

    rescan(true);
    while (!stopping_) {
        // With nothing pending only a change or stop() (through wake()) ends the wait.
        const int timeout = notReady.isEmpty() ? -1 : notReadyRetryMs;
        const auto result = watch_->waitForChange(timeout);
        if (stopping_) {
            break;
        }
        if (result == SerialDeviceWatch::Wait::changed) {
            QElapsedTimer burst;
            burst.start();
            while (!stopping_ && !burst.hasExpired(maxDebounceMs) &&
                   watch_->waitForChange(debounceMs) == SerialDeviceWatch::Wait::changed) {
            }
            if (stopping_) {
                break;
            }
        } else if (notReady.isEmpty()) {
            continue;
        }
        rescan(false);
    }
    watching_ = false;
}

} // namespace orvane
