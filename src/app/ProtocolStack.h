#pragma once

#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "common/WorkQueue.h"
#include "link/BleLink.h"
#include "link/Link.h"
#include "link/LinkFrameRouter.h"
#include "link/SerialLink.h"
#include "protocol/PeripheralHandler.h"
#include "serial/SerialService.h"
#include "storage/HistoryService.h"
#include "trans/ReceivedFileStore.h"
#include "trans/SendJob.h"
#include "trans/SerialProtocolRouter.h"
#include "trans/TransHandler.h"
#include "trans/TransSender.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <stop_token>

namespace orvane {

// The link protocol wired once, for the desktop program and the command line alike: the
// serial link, the frame router handing the frames of every link to the protocol handlers
// (answering probes and identity queries), the TRANS receiver storing what the device
// pushes, and the TRANS sender. A BLE link, owned by the caller, may be attached; while its
// device is the chosen one, it is the active link that transfers go out on.
//
// A received item is made durable on the history's queue (its file flushed to the disk,
// and, when asked to, its row added), in arrival order, so that the device does not wait
// for the disk or the database before its transfer is acknowledged; the item is announced
// through itemDelivered meanwhile. Whatever the history queues later for the item (the
// desktop's own row for it) comes after the flush.
//
// Lives on the main thread, which must run an event loop; send() is for a worker thread.
class ProtocolStack : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Where received files go; the data directory when null.
        std::shared_ptr<ReceivedFileStore> files;
        // The history that makes received items durable; one without a store when null.
        std::shared_ptr<HistoryService> history;
        // Whether received items become rows here; else the receiver of itemDelivered
        // stores them.
        bool storeReceived = false;
    };

    ProtocolStack(SerialService::Platform platform, Options options, QObject* parent = nullptr);
    ~ProtocolStack() override;

    ProtocolStack(const ProtocolStack&) = delete;
    ProtocolStack& operator=(const ProtocolStack&) = delete;

    // Serial access to exactly one device node (a symbolic link included): the port is
    // looked for in its directory under its own name only, so the service never wanders
    // off to a neighbour. An empty path gives a service without a port to watch.
    static SerialService::Platform singlePortPlatform(const QString& portPath);
    // Every serial port of the system, as the settings list them.
    static SerialService::Platform systemPlatform();

    SerialService& service() { return *service_; }
    SerialLink& serialLink() { return *serialLink_; }
    LinkFrameRouter& frameRouter() { return *frames_; }
    // Main thread. A link that goes is detached.
    void attachBle(BleLink& link);
    void detachBle();
    // The link transfers and the "connected" check go through: the attached BLE link while
    // it holds a device, the serial link otherwise. Any thread.
    Link& activeLink() { return *activeLink_.load(); }
    TransHandler& receiver() { return *transHandler_; }
    TransSender& sender() { return *transSender_; }

    // Runs one outbound transfer to completion over the active link, with the port in bulk
    // mode; blocks.
    Status<TransSender::SendError> send(const SendJob& job,
                                        const TransSender::ProgressCallback& onProgress,
                                        std::stop_token stop = {},
                                        const QString& label = QStringLiteral("TRANS"));

signals:
    // Main thread, in the order the items arrived.
    void itemDelivered(const orvane::ClipboardEntry& entry);
    // The device's probe arrived (main thread), with the link it came over.
    void echoReceived(orvane::LinkKind source);
    // Protocol and link remarks (main thread).
    void logLine(const QString& line);
    // Something the user should know went wrong (main thread).
    void warning(const QString& line);

private:
    Status<QString> deliver(const ClipboardEntry& entry);
    void keep(ClipboardEntry entry);
    void postLog(const QString& line);
    void postWarning(const QString& line);

    std::shared_ptr<HistoryService> history_;
    bool storeReceived_ = false;
    std::shared_ptr<TransHandler> transHandler_;
    std::shared_ptr<PeripheralHandler> peripheralHandler_;
    std::shared_ptr<TransSender> transSender_;
    std::unique_ptr<LinkFrameRouter> frames_;
    std::unique_ptr<SerialService> service_;
    std::unique_ptr<SerialLink> serialLink_;
    BleLink* bleLink_ = nullptr;
    std::atomic<Link*> activeLink_{nullptr};
    QMetaObject::Connection bleChosen_;
    QMetaObject::Connection bleState_;
    QMetaObject::Connection bleGone_;
};

} // namespace orvane
