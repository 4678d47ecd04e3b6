#pragma once

// The client's side of a device link, wired the way the application wires it: a real
// serial port session, the router, the echo handler, the TRANS receiver and the TRANS
// sender. Frames are routed on the session's read thread (standing in for the protocol
// queue) and replies written back through the session.

#include "platform/linux/PosixSerialPortIO.h"
#include "protocol/PeripheralHandler.h"
#include "serial/SerialPortSession.h"
#include "storage/DataDirectoryFiles.h"
#include "trans/SerialProtocolRouter.h"
#include "trans/TransHandler.h"
#include "trans/TransSender.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace orvane {

class ClientLink {
public:
    explicit ClientLink(const QString& path, TransSenderTimings timings = {})
        : handler_(std::make_shared<TransHandler>(
              [](const QString&) {}, [](const QString&) {},
              [this](const ClipboardEntry& entry) -> Status<QString> {
                  std::lock_guard lock(mutex_);
                  delivered_.append(entry);
                  changed_.notify_all();
                  return Done{};
              },
              std::make_shared<DataDirectoryFiles>(DataDirectory::standard())))
        , peripheral_(std::make_shared<PeripheralHandler>([](const QString&) {},
                                                          [this] {
                                                              std::lock_guard lock(mutex_);
                                                              ++echoes_;
                                                              changed_.notify_all();
                                                          }))
        , sender_(std::make_shared<TransSender>([](const QString&) {}, timings))
        , router_(handler_, peripheral_, sender_)
        , session_(path, 2000000, std::make_unique<PosixSerialPortIO>(),
                   SerialPortSession::Log{[](const QString&) {},
                                          [](const QString&) {
                                          }}) {
        session_.setOnPendingData([this] { route(); });
    }
    ~ClientLink() { session_.close(true); }

    Status<SerialPortError> open() { return session_.open(); }

    // Sends on the calling thread, writing frames through the session.
    Status<TransSender::SendError> send(const SendJob& job,
                                        const TransSender::ProgressCallback& progress = {}) {
        return sender_->send(
            job,
            [this](const QByteArray& frame) -> Status<TransSender::WriteError> {
                if (auto written = session_.writeAndFlush(frame); !written) {
                    return fail(TransSender::WriteError(written.error().description()));
                }
                return Done{};
            },
            progress);
    }

    // Waits until `ready` holds over the delivered entries and echo count.
    template <typename Predicate>
    bool waitUntil(Predicate ready, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ready(delivered_, echoes_); });
    }

    QList<ClipboardEntry> delivered() const {
        std::lock_guard lock(mutex_);
        return delivered_;
    }

private:
    void route() {
        const auto pending = session_.takePendingData();
        for (const QByteArray& frame : pending.frames) {
            for (const QByteArray& reply : router_.handle(frame)) {
                session_.write(reply);
            }
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QList<ClipboardEntry> delivered_;
    int echoes_ = 0;

    std::shared_ptr<TransHandler> handler_;
    std::shared_ptr<PeripheralHandler> peripheral_;
    std::shared_ptr<TransSender> sender_;
    SerialProtocolRouter router_;
    SerialPortSession session_;
};

} // namespace orvane
