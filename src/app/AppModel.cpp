#include "app/AppModel.h"

#include "app/XdgAutostart.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialLogStore.h"
#include "storage/DataDirectoryFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <utility>

namespace orvane {

AppModel::AppModel(Parts parts, QObject* parent)
    : QObject(parent)
    , parts_(std::move(parts)) {
    Q_ASSERT(parts_.clipboardIO && parts_.clipboardTimers);
    timers_ = parts_.timers ? std::move(parts_.timers) : ModelTimers::eventLoop();
    if (!parts_.openStore) {
        parts_.openStore = [] {
            return AppStore::openOrRecover();
        };
    }
    if (!parts_.loginItem) {
        parts_.loginItem = [](bool enabled) {
            return XdgAutostart::setEnabled(enabled, QCoreApplication::applicationFilePath());
        };
    }
    settings_ = std::make_unique<SettingsController>(
        std::move(parts_.openStore), std::move(parts_.loginItem),
        [this](const QString& message) { setErrorMessage(message); });
    connect(settings_.get(), &SettingsController::changed, this, &AppModel::settingsChanged);
    // The store is attached in startup(). Received items reach the history through the
    // clipboard manager's persist callback; the stack only makes their files durable, on
    // the same queue and so before their rows.
    history_ = std::make_shared<HistoryService>(parts_.dataDirectory);
    stack_ = std::make_unique<ProtocolStack>(
        std::move(parts_.serialPlatform),
        ProtocolStack::Options{parts_.receivedFiles
                                   ? parts_.receivedFiles
                                   : std::make_shared<DataDirectoryFiles>(parts_.dataDirectory),
                               history_, false});
    const auto bleLog = [this](const QString& line) {
        appendProtocolLog(line, lcBle());
    };
    bluetooth_ = std::make_unique<BluetoothService>(std::move(parts_.bluetoothCentral),
                                                    BluetoothService::Callbacks{{}, bleLog, bleLog},
                                                    parts_.bluetoothTimers);
    BleLink::Journal journal;
    journal.log = [this](const QString& direction, const QString& summary,
                         const QStringList& rows) {
        stack_->service().appendLog(direction, summary, rows, lcBle());
    };
    bleLink_ = std::make_unique<BleLink>(*bluetooth_, stack_->frameRouter(), std::move(journal));
    stack_->attachBle(*bleLink_);
    LinkSelector::Owner owner;
    owner.settings = [this]() -> const AppSettings& {
        return settings_->current();
    };
    owner.commit = [this](const AppSettings& updated) {
        settings_->commit(updated);
    };
    owner.setPortConfigured = [this](bool configured) {
        setPortConfigured(configured);
    };
    owner.setErrorMessage = [this](const QString& message, bool aboutTheLink) {
        setErrorMessage(message, aboutTheLink ? ErrorScope::link : ErrorScope::general);
    };
    owner.log = [this](const QString& line) {
        appendProtocolLog(line);
    };
    links_ = std::make_unique<LinkSelector>(stack_->service(), *bleLink_, std::move(owner));
    const auto clipboardLog = [this](const QString& line) {
        appendProtocolLog(line, lcClipboard());
    };
    clipboard_ = std::make_unique<ClipboardManager>(*parts_.clipboardIO, *parts_.clipboardTimers,
                                                    clipboardLog);
    keeper_ = std::make_unique<HistoryKeeper>(*history_, *clipboard_, clipboardLog);
    connect(keeper_.get(), &HistoryKeeper::clipboardChanged, this,
            &AppModel::refreshClipboardState);
    toasts_ = std::make_unique<ToastController>(*timers_);
    connect(toasts_.get(), &ToastController::changed, this, &AppModel::toastChanged);
    ProtocolStack* stack = stack_.get();
    sends_ = std::make_unique<SendController>(
        SendController::Link{
            [stack] { return stack->activeLink().state().isLive(); },
            [stack] { return stack->sender().isBusy(); },
            [stack](const SendJob& job, const TransSender::ProgressCallback& onProgress,
                    std::stop_token stop) {
                return stack->send(job, onProgress, stop, QStringLiteral("TRANS TX"));
            }},
        SendController::Hooks{[this] { clipboard_->beginSendSession(); },
                              [this] {
                                  if (clipboard_) {
                                      clipboard_->releaseSendSession();
                                  }
                              },
                              clipboardLog,
                              [this](const QString& message, bool aboutTheLink) {
                                  setErrorMessage(message, aboutTheLink ? ErrorScope::link
                                                                        : ErrorScope::general);
                              }},
        *timers_, *toasts_);
    connect(sends_.get(), &SendController::transferChanged, this,
            &AppModel::clipboardTransferChanged);
    setupSerialBridge();
    applyLogRetention();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!hasStarted_) {
                hasStarted_ = true;
                startup();
            }
        },
        Qt::QueuedConnection);
}

AppModel::~AppModel() {
    sends_.reset(); // stops the send and waits for it
    links_.reset();
    bleLink_.reset();
    keeper_.reset();
    clipboard_.reset();
    bluetooth_.reset();
    stack_.reset();
    history_.reset(); // finishes what is queued
}

void AppModel::setupSerialBridge() {
    SerialService& serial = stack_->service();
    connect(&serial, &SerialService::isConnectedChanged, this, [this] {
        if (stack_->service().isConnected()) {
            clearStaleSerialErrorIfNeeded();
        }
    });
    connect(bleLink_.get(), &BleLink::stateChanged, this, [this] {
        if (bleLink_->state().isLive()) {
            clearStaleSerialErrorIfNeeded();
        }
    });
    bluetooth_->setOnRawDataReceived([this](const QByteArray& data) {
        stack_->service().appendLog(
            QStringLiteral("BT RX RAW"), QString::number(data.size()) + QStringLiteral(" B"),
            {ProtocolWire::formatHexCompactTruncated(data, 32, 16)}, lcBle());
    });
    connect(bluetooth_.get(), &BluetoothService::statusTextChanged, this, [this] {
        appendProtocolLog(QStringLiteral("[BLE] ") + bluetooth_->statusText(), lcBle());
    });
    connect(stack_.get(), &ProtocolStack::itemDelivered, this, &AppModel::deliverTransEntry);
    connect(stack_.get(), &ProtocolStack::echoReceived, this, &AppModel::handleEchoForAutoSelect);
    connect(stack_.get(), &ProtocolStack::logLine, this,
            [this](const QString& line) { appendProtocolLog(line, lcTrans()); });
    connect(stack_.get(), &ProtocolStack::warning, this, [this](const QString& line) {
        stack_->service().appendLog(QStringLiteral("WRN"), line, {}, lcTrans());
    });
}

void AppModel::startup() {
    Q_ASSERT(thread() == QThread::currentThread());
    hasStarted_ = true;
    SerialService& serial = stack_->service();
    const auto opened = settings_->open();
    if (!opened.problem.isEmpty()) {
        setErrorMessage(QStringLiteral("配置存储不可用: ") + opened.problem);
    } else if (opened.damagedCopy) {
        setErrorMessage(QStringLiteral("配置和历史数据库已损坏，已移至 %1 并重新创建")
                            .arg(QFileInfo(*opened.damagedCopy).fileName()));
        serial.appendLog(QStringLiteral("WRN"),
                         QStringLiteral("store: damaged database moved to %1, started afresh")
                             .arg(*opened.damagedCopy),
                         {}, lcApp());
    }
    if (opened.loaded) {
        const AppSettings& settings = settings_->current();
        setSerialDebugLogEnabledValue(settings.serialDebugLogEnabled);
        setPortConfigured(opened.linkChosen);
        serial.setBaudRate(settings.baudRate >= 1 ? settings.baudRate : defaultBaudRate);
        links_->load(settings);
        (void)parts_.dataDirectory.root();
        settings_->renewAutostart();
    }
    keeper_->setEnabled(settings_->store() != nullptr);
    history_->attach(settings_->store());
    // Queued ahead of every entry stored from now on, which therefore stays in front of
    // what the load brings.
    history_->load(
        this, [this](const QList<ClipboardEntry>& entries) { clipboard_->historyLoaded(entries); });
    clipboard_->start([this] { refreshClipboardState(); },
                      [this](const ClipboardEntry& entry) { keeper_->store(entry); });
    refreshClipboardState();
    serial.activate();
    startAutoConnect();
    if (!portConfigured_) {
        setShowSettings(true);
    }
}

void AppModel::startAutoConnect() {
    links_->startAutoConnect();
}

void AppModel::handleEchoForAutoSelect(LinkKind source) {
    links_->handleEcho(source);
}

void AppModel::connectBluetooth() {
    links_->connectBluetooth();
}

void AppModel::saveBluetoothDevice(const std::optional<BLEUARTDevice>& device) {
    links_->saveBluetoothDevice(device);
}

void AppModel::selectSerialPort(const QString& path) {
    links_->selectSerialPort(path);
}

void AppModel::reconnectSerial() {
    links_->reconnectSerial();
}

void AppModel::saveSettings(AppSettings updated) {
    setErrorMessage({});
    if (!updated.serialPort.isEmpty()) {
        updated.bluetoothDeviceID.clear();
        updated.bluetoothDeviceName.clear();
    }
    settings_->commit(updated);
    setSerialDebugLogEnabledValue(updated.serialDebugLogEnabled);
    setPortConfigured(!updated.serialPort.isEmpty() || !updated.bluetoothDeviceID.isEmpty());
    stack_->service().setBaudRate(updated.baudRate >= 1 ? updated.baudRate : defaultBaudRate);
    links_->applySettings(updated);
    setShowSettings(false);
}

void AppModel::shutdown() {
    if (isShutDown_) {
        return;
    }
    isShutDown_ = true;
    cancelClipboardSend();
    clipboard_->stop();
    stack_->service().shutdown();
}

void AppModel::clearStaleSerialErrorIfNeeded() {
    if (errorScope_ == ErrorScope::link) {
        setErrorMessage({});
    }
}

void AppModel::appendProtocolLog(const QString& message, const QLoggingCategory& category) {
    QPointer<AppModel> self(this);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, message, category = &category] {
            if (self && self->stack_) {
                self->stack_->service().appendLog(QStringLiteral("SYS"), message, {}, *category);
            }
        },
        Qt::QueuedConnection);
}

void AppModel::setSerialDebugLogEnabledValue(bool enabled) {
    if (serialDebugLogEnabled_ != enabled) {
        serialDebugLogEnabled_ = enabled;
        applyLogRetention();
        emit serialDebugLogEnabledChanged();
    }
}

void AppModel::applyLogRetention() {
    // The log keeps recording while its panel is hidden, so that turning it on to look into
    // a problem shows what led up to it; only how much it keeps depends on the panel. The
    // user's pause is theirs alone.
    stack_->service().logStore().setMaximumEntries(
        serialDebugLogEnabled_ ? SerialLogStore::defaultMaximumEntries : hiddenLogEntries);
}

void AppModel::setPortConfigured(bool configured) {
    if (portConfigured_ != configured) {
        portConfigured_ = configured;
        emit portConfiguredChanged();
    }
}

void AppModel::setErrorMessage(const QString& message, ErrorScope scope) {
    errorScope_ = message.isEmpty() ? ErrorScope::general : scope;
    if (errorMessage_ != message) {
        errorMessage_ = message;
        emit errorMessageChanged();
    }
}

void AppModel::setShowSettings(bool show) {
    if (showSettings_ != show) {
        showSettings_ = show;
        emit showSettingsChanged();
    }
}

void AppModel::refreshClipboardState() {
    if (!clipboard_ || clipboardState_ == clipboard_->state()) {
        return;
    }
    clipboardState_ = clipboard_->state();
    emit clipboardStateChanged();
}

} // namespace orvane
