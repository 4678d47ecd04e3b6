// The Orvane desktop program: a tray icon and one floating window with the clipboard
// history. One instance per desktop session; starting it again shows the running one.

#include "app/AppModel.h"
#include "clipboard/QtClipboardTimers.h"
#include "platform/linux/QtBluetoothCentral.h"
#include "platform/linux/QtClipboardIO.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/XWaylandFallback.h"
#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"
#include "ui/SerialStatusBar.h"
#include "ui/SingleInstance.h"
#include "ui/ToastBanner.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QFileInfo>
#include <QSystemTrayIcon>

#include <cstdio>

using namespace orvane;

int main(int argc, char** argv) {
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "The Orvane desktop program: the clipboard link to a Halvex KVM device, with its "
        "tray icon and history window. Starting it again shows the running one's window."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Selects and saves the serial port PATH (any device node or link)."),
        QStringLiteral("PATH"));
    options.addOption(portOption);
    // --help and --version answer without a display and without asking a running instance.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i) {
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    }
    if (options.parse(rawArguments) && options.isSet(QStringLiteral("help"))) {
        // Without an application object the parser does not know the program's name.
        std::fputs(qPrintable(options.helpText().replace(QStringLiteral("<executable_name>"),
                                                         QStringLiteral("orvane"))),
                   stdout);
        return 0;
    }
    if (options.isSet(QStringLiteral("version"))) {
        std::printf("Orvane %s\n", ORVANE_VERSION);
        return 0;
    }

    // Decided before any Qt application object exists: the platform is chosen then.
    const QString platformLine = XWaylandFallback::applyToProcess();
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("orvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    options.process(app);

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::secondary:
        if (!instance.failureReason().isEmpty()) {
            qWarning().noquote() << "running instance did not answer:" << instance.failureReason();
        }
        return 0;
    case SingleInstance::Claim::noBus:
        qWarning().noquote() << "no session bus, running without the single-instance check:"
                             << instance.failureReason();
        break;
    case SingleInstance::Claim::primary:
        break;
    }
    if (!platformLine.isEmpty()) {
        qInfo().noquote() << "SYS" << platformLine;
    }

    AppShell shell(QSystemTrayIcon::isSystemTrayAvailable(), ClipboardImageCache::shared());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell,
                     [&shell] { shell.showMainWindow(PanelPresentationSource::dock); });
    TerminationSignals signals_;
    QObject::connect(&signals_, &TerminationSignals::received, &shell, &AppShell::requestQuit);

    QtClipboardIO clipboardIO;
    QtClipboardTimers clipboardTimers;
    AppModel::Parts parts;
    const QString port = options.isSet(portOption)
                             ? QFileInfo(options.value(portOption)).absoluteFilePath()
                             : QString();
    // A named port may live anywhere (a simulator's pseudo-terminal included); otherwise
    // the system's serial ports are offered.
    parts.serialPlatform =
        port.isEmpty() ? ProtocolStack::systemPlatform() : ProtocolStack::singlePortPlatform(port);
    parts.bluetoothCentral = std::make_unique<QtBluetoothCentral>(
        [](const QString& line) { qWarning().noquote() << "BLE" << line; });
    parts.clipboardIO = &clipboardIO;
    parts.clipboardTimers = &clipboardTimers;
    AppModel model(std::move(parts));
    if (!port.isEmpty()) {
        // Chosen as in the settings, once the model has started with the stored ones.
        QMetaObject::invokeMethod(
            &model, [&model, port] { model.selectSerialPort(port); }, Qt::QueuedConnection);
    }
    shell.setShutdownHook([&model] { model.shutdown(); });
    QObject::connect(&shell, &AppShell::orvaneWillTerminate, &model, &AppModel::shutdown);

    ClipboardPanelView& panel = *shell.mainView()->clipboardPanel();
    panel.setSendAvailable(true);
    const auto showState = [&model, &panel] {
        panel.setClipboardState(model.clipboardState());
    };
    QObject::connect(&model, &AppModel::clipboardStateChanged, &panel, showState);
    QObject::connect(&model, &AppModel::clipboardTransferChanged, &panel, [&model, &panel] {
        panel.setTransfer(model.isClipboardTransferring(), model.clipboardTransferProgress());
    });
    QObject::connect(&model, &AppModel::toastChanged, &panel, [&model, &panel] {
        const auto& toast = model.toast();
        if (!toast) {
            panel.toastBanner()->clearToast();
            return;
        }
        const auto kind = toast->kind == ToastKind::success ? ToastBanner::Kind::success
                          : toast->kind == ToastKind::error ? ToastBanner::Kind::error
                                                            : ToastBanner::Kind::warning;
        panel.toastBanner()->showToast(toast->message, kind);
    });
    QObject::connect(&model, &AppModel::serialDebugLogEnabledChanged, &panel, [&model, &panel] {
        panel.setSerialDebugLogEnabled(model.serialDebugLogEnabled());
    });
    QObject::connect(&model, &AppModel::errorMessageChanged, &model, [&model] {
        if (!model.errorMessage().isEmpty()) {
            qWarning().noquote() << model.errorMessage();
        }
    });
    QObject::connect(&panel, &ClipboardPanelView::sendRequested, &model,
                     &AppModel::sendClipboardItem);
    QObject::connect(&panel, &ClipboardPanelView::deleteRequested, &model,
                     &AppModel::deleteClipboardItem);
    QObject::connect(&panel, &ClipboardPanelView::clearAllRequested, &model,
                     &AppModel::clearClipboardHistory);
    QObject::connect(&panel, &ClipboardPanelView::entryDoubleClicked, &model,
                     &AppModel::doubleClickHistoryItem);
    QObject::connect(&panel, &ClipboardPanelView::cancelTransferRequested, &model,
                     &AppModel::cancelClipboardSend);

    // The link line: the serial service's state, or the BLE device while that is the link.
    SerialStatusBar& bar = *panel.statusBar();
    SerialService& serial = model.serial();
    const auto showLink = [&bar, &serial] {
        const bool bluetooth = !serial.selectedBluetoothDeviceID().isEmpty();
        bar.setLink(bluetooth ? SerialStatusBar::Link::bluetooth : SerialStatusBar::Link::serial);
        bar.setBluetoothDeviceName(serial.selectedBluetoothDeviceName());
        bar.setPorts(serial.ports(), serial.selectedPath());
        bar.setConnectionState(serial.isConnected()           ? QStringLiteral("open")
                               : serial.userWantsConnection() ? QStringLiteral("connecting")
                                                              : QStringLiteral("closed"));
        bar.setToggle(bluetooth ? SerialStatusBar::Toggle::none
                      : serial.isConnected() || serial.userWantsConnection()
                          ? SerialStatusBar::Toggle::close
                          : SerialStatusBar::Toggle::connect);
    };
    for (auto changed : {&SerialService::portsChanged, &SerialService::selectedPathChanged,
                         &SerialService::statusTextChanged, &SerialService::isConnectedChanged,
                         &SerialService::selectedBluetoothDeviceIDChanged,
                         &SerialService::selectedBluetoothDeviceNameChanged,
                         &SerialService::userWantsConnectionChanged}) {
        QObject::connect(&serial, changed, &bar, showLink);
    }
    showLink();
    QObject::connect(&bar, &SerialStatusBar::portSelected, &model, &AppModel::selectSerialPort);
    QObject::connect(&bar, &SerialStatusBar::refreshPortsRequested, &serial,
                     &SerialService::refreshPorts);
    QObject::connect(&bar, &SerialStatusBar::connectRequested, &model, &AppModel::reconnectSerial);
    QObject::connect(&bar, &SerialStatusBar::closeRequested, &serial, &SerialService::disconnect);

    shell.start();
    return app.exec();
}
