#include "apps/orvane-cli/HeadlessClient.h"

#include "common/SystemErrorText.h"
#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "storage/ClipboardRecordMapping.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace orvane {

namespace {

SerialService::Platform platformFor(const QString& portPath) {
    const QFileInfo info(portPath);
    LinuxSerialDeviceSource::Config config;
    // Only the named node counts as a port: with the whole directory scanned, a missing
    // device could make the service settle for a neighbour.
    config.directories = {{info.absolutePath(), {info.fileName()}}};
    auto source = std::make_shared<LinuxSerialDeviceSource>(config);
    SerialService::Platform platform;
    platform.devices = source;
    if (!portPath.isEmpty()) { // without a port (the link is BLE) there is nothing to watch
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

HeadlessClient::HeadlessClient(const QString& portPath, QObject* parent)
    : QObject(parent)
    , portPath_(QFileInfo(portPath).absoluteFilePath()) {
    if (auto store = AppStore::open()) {
        store_ = std::move(store.value());
    } else {
        // Receiving still works; only the history misses the items.
        postWarning(QStringLiteral("配置存储不可用: ") + store.error().description());
    }
    transHandler_ = std::make_shared<TransHandler>(
        [this](const QString& line) { postLog(line); },
        [this](const QString& line) { postWarning(line); },
        [this](const ClipboardEntry& entry) { return deliver(entry); });
    service_ = std::make_unique<SerialService>(platformFor(portPath_));
    peripheralHandler_ = std::make_shared<PeripheralHandler>(
        [this](const QString& line) { postLog(line); },
        [service = service_.get()] { service->noteEchoReceived(); });
    transSender_ = std::make_shared<TransSender>([this](const QString& line) { postLog(line); });
    router_ =
        std::make_unique<SerialProtocolRouter>(transHandler_, peripheralHandler_, transSender_);

    service_->setFrameHandler(
        [router = router_.get()](const QByteArray& frame) { return router->handle(frame); });
    service_->setIsTransferReceiveActiveCheck(
        [handler = transHandler_] { return handler->session().active; });
    service_->setSelectedPath(portPath_);
    // No view reads the debug log here, and it keeps every entry until it is cleared: held
    // open for days it would grow without end. The diagnostics log (standard error with
    // --verbose, serial.log) still receives every line.
    service_->setLogPaused(true);
    // A push cut off by a lost link never finishes: its half-written file would otherwise
    // stay in the data directory until the device starts the next one.
    connect(service_.get(), &SerialService::isPortOpenChanged, this, [this] {
        if (!service_->isPortOpen()) {
            transHandler_->resetSession(true);
        }
    });
}

HeadlessClient::~HeadlessClient() {
    // The service's queues call into the handlers; they go first. Then the items already
    // delivered reach the history.
    service_.reset();
    historyQueue_.stop();
}

void HeadlessClient::start() {
    service_->activate();
}

void HeadlessClient::stop() {
    service_->shutdown();
}

Status<TransSender::SendError> HeadlessClient::send(const SendJob& job,
                                                    const TransSender::ProgressCallback& onProgress,
                                                    std::stop_token stop) {
    SerialService& service = *service_;
    service.beginExclusiveProtocolSend();
    auto result = transSender_->send(
        job,
        [&service](const QByteArray& frame) -> Status<TransSender::WriteError> {
            auto written = service.writeFrameDataAndWait(frame, QStringLiteral("TRANS"));
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

Status<QString> HeadlessClient::deliver(const ClipboardEntry& entry) {
    historyQueue_.post([this, entry] { keep(entry); });
    QMetaObject::invokeMethod(
        this, [this, entry] { emit itemDelivered(entry); }, Qt::QueuedConnection);
    return Done{};
}

void HeadlessClient::keep(const ClipboardEntry& entry) {
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
    if (!store_) {
        return;
    }
    auto record = ClipboardRecordMapping::recordFromEntry(entry);
    if (!record) {
        postWarning(QStringLiteral("历史记录未保存: ") + record.error().description());
    } else if (auto added = store_->addClipboardRecord(record.value()); !added) {
        postWarning(QStringLiteral("历史记录未保存: ") + added.error().description());
    }
}

void HeadlessClient::postLog(const QString& line) {
    QMetaObject::invokeMethod(
        this, [this, line] { emit logLine(line); }, Qt::QueuedConnection);
}

void HeadlessClient::postWarning(const QString& line) {
    QMetaObject::invokeMethod(
        this, [this, line] { emit warning(line); }, Qt::QueuedConnection);
}

} // namespace orvane
