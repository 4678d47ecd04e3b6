#include "app/ProtocolStack.h"

#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/InotifyPortOpenWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "storage/DataDirectoryFiles.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

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
    , history_(options.history ? std::move(options.history)
                               : std::make_shared<HistoryService>(DataDirectory::standard()))
    , storeReceived_(options.storeReceived) {
    transHandler_ = std::make_shared<TransHandler>(
        [this](const QString& line) { postLog(line); },
        [this](const QString& line) { postWarning(line); },
        [this](const ClipboardEntry& entry) { return deliver(entry); },
        options.files ? std::move(options.files)
                      : std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
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
    // the service has finished what it queued there. The history makes the items already
    // delivered durable, whoever lets go of it last.
    service_.reset();
    serialLink_.reset();
    frames_.reset();
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
    keep(entry);
    QMetaObject::invokeMethod(
        this, [this, entry] { emit itemDelivered(entry); }, Qt::QueuedConnection);
    return Done{};
}

void ProtocolStack::keep(ClipboardEntry entry) {
    // A received file goes to the disk before the history refers to it.
    const auto warn = [this](const QString& line) {
        emit warning(line);
    };
    history_->flushReceivedFiles(entry, this, warn);
    if (storeReceived_) {
        history_->add(std::move(entry), HistoryService::Duplicates::store, this,
                      [warn](const HistoryService::Added& added) {
                          if (!added.failure.isEmpty()) {
                              warn(added.failure);
                          }
                      });
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
