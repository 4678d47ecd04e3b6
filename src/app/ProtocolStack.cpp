#include "app/ProtocolStack.h"

#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/InotifyPortOpenWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "storage/DataDirectoryFiles.h"

#include <QFileInfo>
#include <QMetaObject>

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
    service_ = std::make_unique<SerialService>(std::move(platform));
    // The service's own address, not service_: while the service is destroyed, service_ is
    // already empty, and frames still being handled on its protocol queue call back here.
    // The service takes such calls until its destructor has ended.
    SerialService* service = service_.get();
    peripheralHandler_ = std::make_shared<PeripheralHandler>(
        [this](const QString& line) { postLog(line); },
        [this, service] {
            service->noteEchoReceived();
            const SerialDataSource source = handledSource_;
            QMetaObject::invokeMethod(
                this, [this, source] { emit echoReceived(source); }, Qt::QueuedConnection);
        });
    transSender_ = std::make_shared<TransSender>([this](const QString& line) { postLog(line); });
    router_ =
        std::make_unique<SerialProtocolRouter>(transHandler_, peripheralHandler_, transSender_);

    service_->setFrameHandler(SerialService::SourcedFrameHandler(
        [this, router = router_.get()](const QByteArray& frame, SerialDataSource source) {
            handledSource_ = source;
            auto replies = router->handle(frame);
            handledSource_ = SerialDataSource::unknown;
            return replies;
        }));
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
    // The service's queues call into the handlers; they go first. The history makes the
    // items already delivered durable, whoever lets go of it last.
    service_.reset();
}

Status<TransSender::SendError> ProtocolStack::send(const SendJob& job,
                                                   const TransSender::ProgressCallback& onProgress,
                                                   std::stop_token stop, const QString& label) {
    SerialService& service = *service_;
    service.beginExclusiveProtocolSend();
    auto result = transSender_->send(
        job,
        [&service, &label](const QByteArray& frame) -> Status<TransSender::WriteError> {
            auto written = service.writeFrameDataAndWait(frame, label);
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
