#include "apps/orvane-cli/HeadlessClient.h"

#include <QFileInfo>
#include <QMetaObject>

namespace orvane {

HeadlessClient::HeadlessClient(const QString& portPath, QObject* parent)
    : QObject(parent)
    , portPath_(QFileInfo(portPath).absoluteFilePath()) {
    ProtocolStack::Options options;
    options.history = std::make_shared<HistoryService>(DataDirectory::standard());
    options.storeReceived = true;
    // Reported once the caller has had the chance to listen.
    QString line;
    if (auto store = AppStore::openOrRecover()) {
        if (const auto& damaged = store.value()->damagedCopy()) {
            line = QStringLiteral("配置和历史数据库已损坏，已移至 %1 并重新创建").arg(*damaged);
        }
        options.history->attach(std::shared_ptr<AppStore>(std::move(store.value())));
    } else {
        // Receiving still works; only the history misses the items.
        line = QStringLiteral("配置存储不可用: ") + store.error().description();
    }
    if (!line.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, line] { emit warning(line); }, Qt::QueuedConnection);
    }
    stack_ = std::make_unique<ProtocolStack>(ProtocolStack::singlePortPlatform(portPath_),
                                             std::move(options));
    connect(stack_.get(), &ProtocolStack::itemDelivered, this, &HeadlessClient::itemDelivered);
    connect(stack_.get(), &ProtocolStack::logLine, this, &HeadlessClient::logLine);
    connect(stack_.get(), &ProtocolStack::warning, this, &HeadlessClient::warning);
    connect(&stack_->service(), &SerialService::isConnectedChanged, this,
            &HeadlessClient::connectedChanged);
    stack_->service().setSelectedPath(portPath_);
    // No view reads the debug log here, and it keeps every entry until it is cleared: held
    // open for days it would grow without end. The diagnostics log (standard error with
    // --verbose, serial.log) still receives every line.
    stack_->service().setLogPaused(true);
}

HeadlessClient::~HeadlessClient() {
    ble_.reset();
}

void HeadlessClient::useBle(const QString& address, BleConnection::Log status,
                            BleConnection::Log warn) {
    ble_ = std::make_unique<BleConnection>(*stack_, address, std::move(status), std::move(warn));
    connect(&ble_->link(), &BleLink::stateChanged, this, &HeadlessClient::connectedChanged);
}

QString HeadlessClient::linkName() const {
    return ble_ ? ble_->link().deviceID() : stack_->service().selectedPath();
}

void HeadlessClient::start() {
    stack_->service().activate();
}

void HeadlessClient::stop() {
    stack_->service().shutdown();
}

} // namespace orvane
