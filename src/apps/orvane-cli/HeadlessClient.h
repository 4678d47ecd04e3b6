#pragma once

#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "common/WorkQueue.h"
#include "protocol/PeripheralHandler.h"
#include "serial/SerialService.h"
#include "storage/AppStore.h"
#include "trans/SendJob.h"
#include "trans/SerialProtocolRouter.h"
#include "trans/TransHandler.h"
#include "trans/TransSender.h"

#include <QObject>
#include <QString>

#include <memory>
#include <stop_token>

namespace orvane {

// The link stack of the application without its window: the serial service holding the
// port, the router answering probes and identity queries, the TRANS receiver storing what
// the device pushes, and the TRANS sender. Received items are announced through
// itemDelivered and added to the history in the data directory, as the application does.
// The history (and the flush of a received file to the disk) is kept on a queue of its
// own, in arrival order, so that the device does not wait for the database before its
// transfer is acknowledged; stopping the client finishes what is queued.
//
// Lives on the main thread, which must run an event loop; send() is for a worker thread.
class HeadlessClient : public QObject {
    Q_OBJECT

public:
    // `portPath` may be any path to a serial device node, a symbolic link included: the
    // port is looked for in its directory under its own name only, so the service never
    // wanders off to another device there.
    explicit HeadlessClient(const QString& portPath, QObject* parent = nullptr);
    ~HeadlessClient() override;

    HeadlessClient(const HeadlessClient&) = delete;
    HeadlessClient& operator=(const HeadlessClient&) = delete;

    // Starts holding the link.
    void start();
    // Closes the link; nothing is delivered afterwards.
    void stop();

    SerialService& service() { return *service_; }
    QString portPath() const { return portPath_; }

    // Runs one outbound transfer to completion with the port in bulk mode; blocks.
    Status<TransSender::SendError> send(const SendJob& job,
                                        const TransSender::ProgressCallback& onProgress,
                                        std::stop_token stop = {});

signals:
    // Main thread, in the order the items arrived.
    void itemDelivered(const orvane::ClipboardEntry& entry);
    // Protocol and link remarks (main thread).
    void logLine(const QString& line);
    // Something the user should know went wrong (main thread).
    void warning(const QString& line);

private:
    Status<QString> deliver(const ClipboardEntry& entry);
    // History queue: the received item made durable and written to the history.
    void keep(const ClipboardEntry& entry);
    void postLog(const QString& line);
    void postWarning(const QString& line);

    const QString portPath_;
    std::unique_ptr<AppStore> store_; // null when the history is unavailable
    WorkQueue historyQueue_{QStringLiteral("com.orvane.cli.history")};
    std::shared_ptr<TransHandler> transHandler_;
    std::shared_ptr<PeripheralHandler> peripheralHandler_;
    std::shared_ptr<TransSender> transSender_;
    std::unique_ptr<SerialProtocolRouter> router_;
    std::unique_ptr<SerialService> service_;
};

} // namespace orvane
