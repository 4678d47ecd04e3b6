#pragma once

#include "clipboard/ClipboardReading.h"
#include "platform/linux/wayland/DataControlFormats.h"
#include "platform/linux/wayland/DataControlSession.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct wl_display;

namespace orvane {

// A connection of its own to the compositor and the thread that serves it: reads every
// new clipboard offer (only the formats that decide the reading) and answers readers of
// our own clipboard data from memory. Pipes to other programs are non-blocking and
// served from the same poll loop, so a program that stalls holds up nothing but itself.
//
// Threads: start(), setSelection() and the destructor are called on the owner's thread;
// the callbacks run on the connection's thread and must not block.
class DataControlThread : private DataControlSession::Handler {
public:
    struct Limits {
        // A transfer that makes no progress for this long is given up.
        std::chrono::milliseconds readStall{2000};
        std::chrono::milliseconds writeStall{10000};
        // Formats larger than this are not read.
        qsizetype readCap = qsizetype(256) << 20;
    };
    struct Callbacks {
        // Another program's data became the clipboard's; `generation` is the last
        // setSelection() generation the thread had carried out when it began reading.
        std::function<void(ClipboardReading reading, quint64 generation)> selectionRead;
        // The connection broke or the compositor withdrew the device; the thread ends.
        std::function<void(QString reason)> lost;
    };

    // The connection thread's name (as /proc/PID/task/TID/comm shows it).
    static constexpr char threadName[] = "orvane-wlclip";

    DataControlThread(Limits limits, Callbacks callbacks);
    ~DataControlThread() override;

    // Connects to the compositor that WAYLAND_DISPLAY names and starts the thread. Fails
    // with a reason when there is no compositor or it lacks data control or a seat.
    std::optional<QString> start();

    // Makes `formats` the clipboard's data. Never waits for the thread.
    void setSelection(QList<DataControlFormats::OfferedFormat> formats, quint64 generation);

private:
    struct Reading;
    struct Writer;
    struct Request {
        QList<DataControlFormats::OfferedFormat> formats;
        quint64 generation = 0;
    };
    using Clock = std::chrono::steady_clock;

    void run();
    bool pollOnce();
    int nextTimeoutMs() const;
    void handleRequests();
    void readNextFormat();
    void readAvailable();
    void finishFormat(std::optional<QByteArray> bytes);
    void abandonReading();
    void writeAvailable(Writer& writer);
    void expireStalled();
    void dropOffer(DataControlSession::Offer* offer);
    void fail(const QString& reason);
    void assertConnectionThread() const;

    void offerCreated(DataControlSession::Offer* offer) override;
    void offerType(DataControlSession::Offer* offer, const char* mimeType) override;
    void selectionChanged(DataControlSession::Offer* offer) override;
    void primarySelectionChanged(DataControlSession::Offer* offer) override;
    void deviceFinished() override;
    void sendRequested(DataControlSession::Source* source, const char* mimeType, int fd) override;
    void sourceCancelled(DataControlSession::Source* source) override;

    const Limits limits_;
    const Callbacks callbacks_;
    wl_display* display_ = nullptr;
    int wakeFd_ = -1;
    std::unique_ptr<DataControlSession> session_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    bool failed_ = false;

    std::mutex requestsMutex_;
    std::vector<Request> requests_; // guarded by requestsMutex_

    // Only the connection's thread touches what follows.
    quint64 generation_ = 0;
    std::map<DataControlSession::Offer*, QList<QByteArray>> offers_;
    DataControlSession::Offer* selection_ = nullptr;
    std::unique_ptr<Reading> reading_;
    std::map<DataControlSession::Source*, QList<DataControlFormats::OfferedFormat>> sources_;
    std::vector<std::unique_ptr<Writer>> writers_;
};

} // namespace orvane
