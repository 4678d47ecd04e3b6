#include "app/ProtocolStack.h"

#include "common/SystemErrorText.h"
#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/InotifyPortOpenWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "storage/ClipboardRecordMapping.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <cerrno>
#include <unistd.h>

namespace orvane {

namespace {

SerialService::Platform platformFor(LinuxSerialDeviceSource::Config config, bool watch) {
    auto source = std::make_shared<LinuxSerialDeviceSource>(std::move(config));
    SerialService::Platform platform;
    platform.devices = source;
    platform.openWatch = [] {
        return std::make_unique<InotifyPortOpenWatch>();
    };
    if (watch) {
        platform.watch = std::make_unique<InotifyDeviceWatch>(source->watchedDirectories());
    }
    platform.openSession = [](const QString& path, qint64 baudRate) {
        return std::make_unique<SerialPortSession>(path, baudRate,
                                                   std::make_unique<PosixSerialPortIO>(),
                                                   SerialPortSession::diagnosticsLog());
    };
    return platform;
}

} // namespace

SerialService::Platform ProtocolStack::singlePortPlatform(const QString& portPath) {
    const QFileInfo info(portPath);
    LinuxSerialDeviceSource::Config config;
    config.directories = {{info.absolutePath(), {info.fileName()}}};
    // Without a port (the link is BLE) there is nothing to watch.
    return platformFor(std::move(config), !portPath.isEmpty());
}

SerialService::Platform ProtocolStack::systemPlatform() {
    return platformFor(LinuxSerialDeviceSource::Config{}, true);
}

ProtocolStack::ProtocolStack(SerialService::Platform platform, Options options, QObject* parent)
    : QObject(parent)
    , history_(std::move(options.history)) {
    transHandler_ = std::make_shared<TransHandler>(
        [this](const QString& line) { postLog(line); },
        [this](const QString& line) { postWarning(line); },
        [this](const ClipboardEntry& entry) { return deliver(entry); }, std::move(options.files));
    peripheralHandler_ =
        std::make_shared<PeripheralHandler>([this](const QString& line) { postLog(line); });
    transSender_ = std::make_shared<TransSender>([this](const QString& line) { postLog(line); });
    auto router =
        std::make_shared<SerialProtocolRouter>(transHandler_, peripheralHandler_, transSender_);
    // The service's own address, not service_: while the service is destroyed, service_ is
    // already empty, and frames still being handled on the protocol queue call back here.
    // It is set before the service is started, so before any frame is handled.
    auto echoTarget = std::make_shared<SerialService*>(nullptr);
    frames_ = std::make_unique<LinkFrameRouter>(router, [this, echoTarget](LinkKind source) {
        // Every probe counts for the serial link's liveness check, as it always has.
        (*echoTarget)->noteEchoReceived();
        QMetaObject::invokeMethod(
            this, [this, source] { emit echoReceived(source); }, Qt::QueuedConnection);
    });
    platform.protocolQueue = frames_->queue();
    service_ = std::make_unique<SerialService>(std::move(platform));
    SerialService* service = service_.get();
    *echoTarget = service;
    serialLink_ = std::make_unique<SerialLink>(*service, *frames_);
    activeLink_ = serialLink_.get();
    service_->setIsTransferReceiveActiveCheck(
        [handler = transHandler_] { return handler->session().active; });
    // A push cut off by a lost link never finishes: its half-written file would otherwise
    // stay in the data directory until the device starts the next one.
    connect(service, &SerialService::isPortOpenChanged, this, [this, service] {
        if (!service->isPortOpen()) {
            transHandler_->resetSession(true);
        }
    });
}

ProtocolStack::~ProtocolStack() {
    detachBle();
    // The service's queues call into the handlers; they go first, the router's queue after
    // the service has finished what it queued there. Then the items already delivered are
    // made durable.
    service_.reset();
    serialLink_.reset();
    frames_.reset();
    historyQueue_.stop();
}

void ProtocolStack::attachBle(BleLink& link) {
    Q_ASSERT(thread() == QThread::currentThread());
    detachBle();
    bleLink_ = &link;
    const auto choose = [this] {
        activeLink_ = bleLink_->isChosen() ? static_cast<Link*>(bleLink_) : serialLink_.get();
    };
    choose();
    bleChosen_ = connect(&link, &BleLink::deviceChanged, this, choose);
    bleState_ = connect(&link, &BleLink::stateChanged, this, [this] {
        if (!bleLink_->state().isLive()) {
            transHandler_->resetSession(true);
        }
    });
    bleGone_ = connect(&link, &QObject::destroyed, this, [this] { detachBle(); });
}

void ProtocolStack::detachBle() {
    QObject::disconnect(bleChosen_);
    QObject::disconnect(bleState_);
    QObject::disconnect(bleGone_);
    bleLink_ = nullptr;
    activeLink_ = serialLink_.get();
}

Status<TransSender::SendError> ProtocolStack::send(const SendJob& job,
                                                   const TransSender::ProgressCallback& onProgress,
                                                   std::stop_token stop, const QString& label) {
    SerialService& service = *service_;
    Link& link = activeLink();
    service.beginExclusiveProtocolSend();
    auto result = transSender_->send(
        job,
        [&link, &label](const QByteArray& frame) -> Status<TransSender::WriteError> {
            auto written = link.sendAndWait(frame, label);
            if (written) {
                return Done{};
            }
            const auto& error = written.error().error();
            if (const auto* trans = std::get_if<TransError>(&error)) {
                return fail(TransSender::WriteError(*trans));
            }
            return fail(TransSender::WriteError(written.error().description()));
        },
        onProgress, stop);
    service.endExclusiveProtocolSend();
    return result;
}

Status<QString> ProtocolStack::deliver(const ClipboardEntry& entry) {
    historyQueue_.post([this, entry] { keep(entry); });
    QMetaObject::invokeMethod(
        this, [this, entry] { emit itemDelivered(entry); }, Qt::QueuedConnection);
    return Done{};
}

void ProtocolStack::keep(const ClipboardEntry& entry) {
    // A received file goes to the disk before the history refers to it. One that is gone
    // already (replaced by a later one of the same name) needs nothing.
    for (const QString& path : entry.files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (file.exists()) {
                postWarning(
                    QStringLiteral("文件未能写入磁盘: %1: %2").arg(path, file.errorString()));
            }
            continue;
        }
        if (::fsync(file.handle()) != 0) {
            const QString reason = systemErrorText(errno);
            postWarning(QStringLiteral("文件未能写入磁盘: %1: %2").arg(path, reason));
        }
    }
    if (!history_) {
        return;
    }
    auto record = ClipboardRecordMapping::recordFromEntry(entry);
    if (!record) {
        postWarning(QStringLiteral("历史记录未保存: ") + record.error().description());
    } else if (auto added = history_->addClipboardRecord(record.value()); !added) {
        postWarning(QStringLiteral("历史记录未保存: ") + added.error().description());
    }
}

void ProtocolStack::postLog(const QString& line) {
    QMetaObject::invokeMethod(
        this, [this, line] { emit logLine(line); }, Qt::QueuedConnection);
}

void ProtocolStack::postWarning(const QString& line) {
    QMetaObject::invokeMethod(
        this, [this, line] { emit warning(line); }, Qt::QueuedConnection);
}

} // namespace orvane
