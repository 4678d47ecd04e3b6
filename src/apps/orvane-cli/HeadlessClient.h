#pragma once

#include "app/ProtocolStack.h"
#include "apps/orvane-cli/BleConnection.h"
#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "serial/SerialService.h"
#include "storage/AppStore.h"
#include "storage/HistoryService.h"
#include "trans/SendJob.h"
#include "trans/TransSender.h"

#include <QObject>
#include <QString>

#include <memory>
#include <stop_token>

namespace orvane {

// The link stack of the application without its window, on one named port or one BLE
// bridge: received items are announced through itemDelivered and added to the history in
// the data directory, as the application does.
//
// Lives on the main thread, which must run an event loop; send() is for a worker thread.
class HeadlessClient : public QObject {
    Q_OBJECT

public:
    // `portPath` may be any path to a serial device node, a symbolic link included.
    explicit HeadlessClient(const QString& portPath, QObject* parent = nullptr);
    ~HeadlessClient() override;

    HeadlessClient(const HeadlessClient&) = delete;
    HeadlessClient& operator=(const HeadlessClient&) = delete;

    // Starts holding the link.
    void start();
    // Closes the link; nothing is delivered afterwards.
    void stop();

    SerialService& service() { return stack_->service(); }
    QString portPath() const { return portPath_; }

    // Carries the frames over the BLE bridge at `address` instead of the port; before
    // start(). `status` hears the Bluetooth status lines, `warn` its warnings.
    void useBle(const QString& address, BleConnection::Log status, BleConnection::Log warn);
    BleConnection* ble() { return ble_.get(); }

    // The link in use is up (main thread); connectedChanged tells when that may have changed.
    bool isConnected() { return stack_->activeLink().state().isLive(); }
    // The port, or the bridge's address.
    QString linkName() const;

    // Runs one outbound transfer to completion with the port in bulk mode; blocks.
    Status<TransSender::SendError> send(const SendJob& job,
                                        const TransSender::ProgressCallback& onProgress,
                                        std::stop_token stop = {}) {
        return stack_->send(job, onProgress, stop);
    }

signals:
    void connectedChanged();
    // Main thread, in the order the items arrived.
    void itemDelivered(const orvane::ClipboardEntry& entry);
    // Protocol and link remarks (main thread).
    void logLine(const QString& line);
    // Something the user should know went wrong (main thread).
    void warning(const QString& line);

private:
    const QString portPath_;
    std::unique_ptr<ProtocolStack> stack_;
    std::unique_ptr<BleConnection> ble_; // goes before the stack
};

} // namespace orvane
