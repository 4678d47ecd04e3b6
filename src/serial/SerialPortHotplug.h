#pragma once

#include "serial/SerialDeviceSource.h"
#include "serial/SerialDeviceWatch.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QThread;
QT_END_NAMESPACE

namespace orvane {

// Reports serial ports appearing and disappearing. A thread of its own
// ("com.orvane.serial.hotplug") waits on the device watch, rescans the device nodes after
// a short quiet period and compares them with what it reported before. At start every
// port present is reported once as attached.
//
// Lives on the thread that creates it (the main thread); onEvent is called there.
class SerialPortHotplug : public QObject {
    Q_OBJECT

public:
    struct Event {
        enum class Kind { attached, detached };
        Kind kind;
        QString path;

        static Event attached(const QString& path) { return {Kind::attached, path}; }
        static Event detached(const QString& path) { return {Kind::detached, path}; }
        friend bool operator==(const Event&, const Event&) = default;
    };

    static constexpr char threadName[] = "com.orvane.serial.hotplug";
    // Changes closer together than this are one rescan (a device brings several nodes).
    static constexpr int debounceMs = 50;
    // A burst of changes never delays the rescan longer than this.
    static constexpr int maxDebounceMs = 500;
    // A new node we may not open yet is looked at again this often...
    static constexpr int notReadyRetryMs = 100;
    // ...and reported anyway after this long, so the user is told about the permissions.
    static constexpr int notReadyLimitMs = 3000;

    SerialPortHotplug(std::shared_ptr<const SerialDeviceSource> source,
                      std::unique_ptr<SerialDeviceWatch> watch, QObject* parent = nullptr);
    ~SerialPortHotplug() override;

    // Set before start(); called on this object's thread.
    std::function<void(const Event&)> onEvent;

    void start();
    // Ends the thread and waits for it. Events already posted but not delivered are still
    // delivered unless the object is destroyed first.
    void stop();
    bool isStarted() const { return started_; }
    // The watch is set up and its thread waits on it: every change is reported. Any thread.
    bool isWatching() const { return watching_; }

private:
    void run();
    void post(const Event& event);

    std::shared_ptr<const SerialDeviceSource> source_;
    std::unique_ptr<SerialDeviceWatch> watch_;
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> watching_ = false;
    bool started_ = false;
};

} // namespace orvane
