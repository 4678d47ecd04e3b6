#include "link/BleLink.h"

#include "serial/SerialFrameProcessor.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace orvane {

namespace {

QString summaryOf(const QByteArray& frame) {
    return SerialFrameProcessor::logSummary(SerialFrameProcessor::frameSn(frame), frame.size());
}

} // namespace

BleLink::BleLink(BluetoothService& bluetooth, LinkFrameRouter& router, Journal journal,
                 QObject* parent)
    : QObject(parent)
    , bluetooth_(bluetooth)
    , router_(router)
    , journal_(std::move(journal)) {}

BleLink::~BleLink() {
    router_.flush();
}

void BleLink::postToMain(std::function<void()> task) {
    // Queued to this object: dropped with it if it is destroyed before the call runs.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void BleLink::send(QByteArray frame, std::optional<QString> label, SendCompletion completion) {
    SendResult result = sendAndWait(std::move(frame), std::move(label));
    if (completion) {
        completion(std::move(result));
    } else if (!result) {
        // Fire-and-forget sends have nobody else to tell.
        postToMain([this, reason = result.error().description()] {
            journal_.log(QStringLiteral("WRN"), QStringLiteral("串口写入失败: ") + reason, {});
        });
    }
}

// Every frame sent is logged as "BT TX" already, so the label adds no line of its own.
Link::SendResult BleLink::sendAndWait(QByteArray frame, std::optional<QString> /*label*/) {
    if (!connected_) {
        return fail(SerialWriteError(TransError(TransError::Code::serialClosed)));
    }
    // The bridge takes the bytes on the main thread; a write is not waited for, so a
    // sender on the main thread is fine too.
    postToMain([this, frame = std::move(frame)] {
        journal_.log(QStringLiteral("BT TX"), summaryOf(frame),
                     {SerialFrameProcessor::hexRow(frame)});
        bluetooth_.write(frame);
    });
    return Done{};
}

void BleLink::hold(const QString& id, const QString& name) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (deviceID_ == id && deviceName_ == name) {
        return;
    }
    deviceID_ = id;
    deviceName_ = name;
    emit deviceChanged();
}

void BleLink::setConnected(bool connected) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (connected_.exchange(connected) != connected) {
        emit connectedChanged();
    }
}

void BleLink::publishLive(bool live) {
    setState({live ? LinkPhase::live : LinkPhase::closed});
}

void BleLink::setState(LinkState state) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (state_ != state) {
        state_ = state;
        emit stateChanged();
    }
}

void BleLink::connectDevice(const QString& id, BluetoothService::DeviceCallback onNameUpdated) {
    bluetooth_.connect(
        id,
        [self = QPointer<BleLink>(this)](const QByteArray& frame) {
            if (self) {
                self->frameArrived(frame);
            }
        },
        std::move(onNameUpdated));
}

void BleLink::frameArrived(const QByteArray& frame) {
    journal_.log(QStringLiteral("BT RX"), summaryOf(frame), {SerialFrameProcessor::hexRow(frame)});
    setConnected(true);
    setState({LinkPhase::live});
    router_.receive(*this, frame, QStringLiteral("BT TX"));
}

} // namespace orvane
