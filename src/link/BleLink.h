#pragma once

#include "bluetooth/BluetoothService.h"
#include "link/Link.h"
#include "link/LinkFrameRouter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace orvane {

// The BLE UART bridge as a Link, over the Bluetooth service: the frames the bridge delivers
// go to the frame router as this link's, and what is sent goes to the bridge. It holds the
// device chosen for it and tells whether frames can go out now; when the link counts as up
// is for the owner to say (publishLive), except that a frame arriving shows it is.
//
// Lives on the main thread, as the Bluetooth service does; send() may be called from any
// thread and hands the bytes over through the event loop. Must go before the router and
// the Bluetooth service.
class BleLink final : public QObject, public Link {
    Q_OBJECT

public:
    // Where the link's lines go (main thread).
    struct Journal {
        // A debug-log line that also goes to the diagnostics log ("BT RX", "BT TX", "WRN").
        // A frame sent is logged once, as "BT TX", whatever label it was sent with.
        std::function<void(const QString& direction, const QString& summary,
                           const QStringList& rows)>
            log;
    };

    BleLink(BluetoothService& bluetooth, LinkFrameRouter& router, Journal journal,
            QObject* parent = nullptr);
    // Waits for the frames it queued at the router.
    ~BleLink() override;

    BleLink(const BleLink&) = delete;
    BleLink& operator=(const BleLink&) = delete;

    LinkKind kind() const override { return LinkKind::bluetooth; }
    void send(QByteArray frame, std::optional<QString> label, SendCompletion completion) override;
    SendResult sendAndWait(QByteArray frame, std::optional<QString> label) override;
    LinkState state() const override { return state_; }

    // ---- Main thread ----------------------------------------------------------------------
    // The device this link is for; an empty id: none, the link is not the chosen one.
    void hold(const QString& id, const QString& name);
    QString deviceID() const { return deviceID_; }
    QString deviceName() const { return deviceName_; }
    bool isChosen() const { return !deviceID_.isEmpty(); }

    // Frames can go out now; a link that is not connected refuses them (serialClosed).
    bool isConnected() const { return connected_; }
    void setConnected(bool connected);
    // The link came up or went down: live, or closed.
    void publishLive(bool live);

    // Connects to the peripheral `id`; its frames arrive here. A better name learnt while
    // connecting goes to `onNameUpdated`.
    void connectDevice(const QString& id, BluetoothService::DeviceCallback onNameUpdated = {});

    BluetoothService& bluetooth() { return bluetooth_; }

signals:
    void deviceChanged();
    void connectedChanged();
    void stateChanged();

private:
    void frameArrived(const QByteArray& frame);
    void setState(LinkState state);
    void postToMain(std::function<void()> task);

    BluetoothService& bluetooth_;
    LinkFrameRouter& router_;
    const Journal journal_;
    QString deviceID_;
    QString deviceName_;
    std::atomic<bool> connected_{false};
    LinkState state_;
};

} // namespace orvane
