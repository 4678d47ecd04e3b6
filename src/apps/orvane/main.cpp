// The Orvane desktop program: a tray icon and one floating window with the clipboard
// history. One instance per desktop session; starting it again shows the running one.

#include "app/AppModel.h"
#include "app/RemoteControl.h"
#include "app/XdgAutostart.h"
#include "clipboard/QtClipboardTimers.h"
#include "common/LogCategories.h"
#include "platform/linux/DesktopTrayWatch.h"
#include "platform/linux/FreedesktopFileRevealer.h"
#include "platform/linux/OrvaneBusAdaptor.h"
#include "platform/linux/QtBluetoothCentral.h"
#include "platform/linux/QtClipboardIO.h"
#include "platform/linux/StatusNotifierItem.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/XWaylandFallback.h"
#include "platform/linux/wayland/DataControlClipboardIO.h"
#include "platform/linux/wayland/DataControlDiscovery.h"
#include "serial/DiagnosticsMessageHandler.h"
#include "ui/AppModelBinding.h"
#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/QtTranslations.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QFileInfo>

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
    const QCommandLineOption autostartOption(
        XdgAutostart::startOption(),
        QStringLiteral("Started at login by the autostart entry: with a tray, the window stays "
                       "hidden until the tray icon is clicked."));
    options.addOption(autostartOption);
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

    DiagnosticsMessageHandler::install();
    // Decided before any Qt application object exists: the platform is chosen then.
    XWaylandFallback::Findings findings;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (const auto dataControl = DataControlDiscovery::probe()) {
            findings.dataControl = DataControlDiscovery::interfaceName(dataControl->protocol);
        }
        findings.waylandPlugin = XWaylandFallback::waylandPluginInstalled();
    }
    const XWaylandFallback::Decision platform = XWaylandFallback::applyToProcess(findings);
    QApplication app(argc, argv);
    installQtTranslations(app);
    QApplication::setDesktopFileName(QStringLiteral("orvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    options.process(app);

    SingleInstance instance;
    const SingleInstance::Claim claim = instance.claim();
    switch (claim) {
    case SingleInstance::Claim::secondary:
        if (!instance.failureReason().isEmpty()) {
            qWarning().noquote() << "running instance did not answer:" << instance.failureReason();
        }
        if (options.isSet(portOption)) {
            qWarning().noquote() << "Orvane is already running; --port was not passed on";
        }
        return 0;
    case SingleInstance::Claim::noBus:
        qWarning().noquote() << "no session bus, running without the single-instance check:"
                             << instance.failureReason();
        break;
    case SingleInstance::Claim::primary:
        break;
    }
    if (!platform.logLine.isEmpty()) {
        qCInfo(lcApp).noquote() << "SYS" << platform.logLine;
    }

    // At login the panel that hosts the tray may start after the program. Qt's icon finds
    // a late X11 tray; a late StatusNotifier panel gets the program's own item.
    DesktopTrayWatch trayWatch;
    StatusNotifierItem statusItem;
    AppShell shell(trayWatch.isAvailable(), ClipboardImageCache::shared());
    shell.watchTray(trayWatch);
    shell.watchStatusItem(statusItem);
    shell.mainView()->clipboardPanel()->setFileRevealer(
        std::make_unique<FreedesktopFileRevealer>());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell,
                     [&shell] { shell.showMainWindow(PanelPresentationSource::dock); });
    TerminationSignals signals_;
    QObject::connect(&signals_, &TerminationSignals::received, &shell, &AppShell::requestQuit);

    // The compositor's data control when it offers it, else Qt's clipboard.
    std::unique_ptr<ClipboardIO> clipboardIO;
    if (platform.dataControl) {
        auto dataControl = std::make_unique<DataControlClipboardIO>(
            [](const QString& line) { qCWarning(lcClipboard).noquote() << line; });
        if (const std::optional<QString> failure = dataControl->start()) {
            qCWarning(lcClipboard).noquote()
                << "Clipboard: data control unavailable, using Qt's clipboard:" << *failure;
        } else {
            clipboardIO = std::move(dataControl);
        }
    }
    if (!clipboardIO) {
        clipboardIO = std::make_unique<QtClipboardIO>();
    }
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
        [](const QString& line) { qCWarning(lcBle).noquote() << "BLE" << line; });
    parts.clipboardIO = clipboardIO.get();
    parts.clipboardTimers = &clipboardTimers;
    AppModel model(std::move(parts));
    if (!port.isEmpty()) {
        // Chosen as in the settings, once the model has started with the stored ones. The
        // port already saved is left alone: choosing it again would drop the link that
        // start-up has just opened, and an item arriving meanwhile with it.
        QMetaObject::invokeMethod(
            &model,
            [&model, &shell, port] {
                if (model.settings().serialPort != port || !model.portConfigured()) {
                    model.selectSerialPort(port);
                }
                // The settings a first start opens are answered by the port just given.
                if (model.portConfigured()) {
                    shell.mainView()->sidebar()->setSelection(MainSidebarItem::clipboard);
                }
            },
            Qt::QueuedConnection);
    }
    AppModelBinding binding(model, shell);
    // Other programs of the session send through the link this process holds; only the
    // owner of the bus name speaks for the session.
    std::unique_ptr<RemoteControl> remote;
    if (claim == SingleInstance::Claim::primary) {
        remote = std::make_unique<RemoteControl>(
            model, [&shell] { shell.showMainWindow(PanelPresentationSource::dock); });
        new OrvaneBusAdaptor(&instance, *remote, instance.bus(),
                             QString::fromLatin1(SingleInstance::objectPath));
    }

    shell.start(options.isSet(autostartOption));
    return app.exec();
}
