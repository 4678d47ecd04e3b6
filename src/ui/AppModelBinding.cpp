#include "ui/AppModelBinding.h"

#include "app/AppModel.h"
#include "link/LinkStateText.h"
#include "serial/SerialService.h"
#include "ui/AppShell.h"
#include "ui/ClipboardHoverPreviewBinding.h"
#include "ui/ClipboardPanelView.h"
#include "ui/FloatingWindow.h"
#include "ui/MainView.h"
#include "ui/SerialLogBinding.h"
#include "ui/SerialStatusBar.h"
#include "ui/SettingsPanelBinding.h"
#include "ui/ToastBanner.h"
#include "ui/WindowSizeConfigurator.h"

#include <QDebug>

namespace orvane {

AppModelBinding::AppModelBinding(AppModel& model, AppShell& shell, QObject* parent)
    : QObject(parent)
    , model_(model)
    , shell_(shell) {
    // The shell runs the hook once, right after orvaneWillTerminate, however the program
    // ends (tray menu, Ctrl+Q, SIGTERM, logout).
    shell_.setShutdownHook([this] {
        qInfo().noquote() << "shutting down";
        model_.shutdown();
    });
    connect(&model_, &AppModel::errorMessageChanged, this, [this] {
        if (!model_.errorMessage().isEmpty()) {
            qWarning().noquote() << model_.errorMessage();
        }
    });

    bindMainView(*shell_.mainView());
    ClipboardPanelView& panel = *shell_.mainView()->clipboardPanel();
    bindClipboardPanel(panel);
    bindStatusBar(*panel.statusBar());
    // The parts' bindings are children: they go with this one.
    new SettingsPanelBinding(model_, shell_, this);
    new ClipboardHoverPreviewBinding(model_, shell_, this);
    new SerialLogBinding(model_, shell_, this);
}

AppModelBinding::~AppModelBinding() {
    shell_.setShutdownHook({});
}

// The settings-shown flag lives in the model (the first start raises it) and in the view
// (the sidebar); each follows the other. Showing the window checks the link at once.
void AppModelBinding::bindMainView(MainView& view) {
    view.setShowSettings(model_.showSettings());
    connect(&model_, &AppModel::showSettingsChanged, this,
            [this, &view] { view.setShowSettings(model_.showSettings()); });
    connect(&view, &MainView::showSettingsChanged, &model_, &AppModel::setShowSettings);
    connect(&shell_, &AppShell::orvaneDidBecomeActive, &model_.serial(),
            &SerialService::verifyConnectionHealth);
}

void AppModelBinding::bindClipboardPanel(ClipboardPanelView& panel) {
    panel.setSendAvailable(true);
    const auto showState = [this, &panel] {
        panel.setClipboardState(model_.clipboardState());
    };
    connect(&model_, &AppModel::clipboardStateChanged, this, showState);
    showState();

    const auto showTransfer = [this, &panel] {
        panel.setTransfer(model_.isClipboardTransferring(), model_.clipboardTransferProgress());
    };
    connect(&model_, &AppModel::clipboardTransferChanged, this, showTransfer);

    connect(&model_, &AppModel::toastChanged, this, [this, &panel] {
        const auto& toast = model_.toast();
        if (!toast) {
            panel.toastBanner()->clearToast();
            return;
        }
        const auto kind = toast->kind == ToastKind::success ? ToastBanner::Kind::success
                          : toast->kind == ToastKind::error ? ToastBanner::Kind::error
                                                            : ToastBanner::Kind::warning;
        panel.toastBanner()->showToast(toast->message, kind);
    });

    // The log needs the taller window as well as its place in the panel.
    const auto showDebugLog = [this, &panel] {
        panel.setSerialDebugLogEnabled(model_.serialDebugLogEnabled());
        shell_.window()->sizeConfigurator().setSerialDebugLogEnabled(
            model_.serialDebugLogEnabled());
    };
    connect(&model_, &AppModel::serialDebugLogEnabledChanged, this, showDebugLog);
    showDebugLog();

    connect(&panel, &ClipboardPanelView::sendRequested, &model_, &AppModel::sendClipboardItem);
    connect(&panel, &ClipboardPanelView::deleteRequested, &model_, &AppModel::deleteClipboardItem);
    connect(&panel, &ClipboardPanelView::clearAllRequested, &model_,
            &AppModel::clearClipboardHistory);
    connect(&panel, &ClipboardPanelView::entryDoubleClicked, &model_,
            &AppModel::doubleClickHistoryItem);
    connect(&panel, &ClipboardPanelView::cancelTransferRequested, &model_,
            &AppModel::cancelClipboardSend);
}

// The link line: the serial service's state, or the BLE device while that is the link.
void AppModelBinding::bindStatusBar(SerialStatusBar& bar) {
    SerialService& serial = model_.serial();
    BleLink& ble = model_.bleLink();
    const auto bluetoothLink = [this] {
        return std::holds_alternative<BleLinkChoice>(model_.links().selection());
    };
    const auto showLink = [this, &bar, &serial, &ble, bluetoothLink] {
        const bool bluetooth = bluetoothLink();
        bar.setLink(bluetooth ? SerialStatusBar::Link::bluetooth : SerialStatusBar::Link::serial);
        bar.setBluetoothDeviceName(ble.deviceName());
        bar.setPorts(serial.ports(), serial.selectedPath());
        bar.setConnectionState(LinkStateText::word(model_.activeLink().state()));
        const bool linkUp =
            bluetooth ? ble.isConnected() : serial.isConnected() || serial.userWantsConnection();
        bar.setToggle(linkUp ? SerialStatusBar::Toggle::close : SerialStatusBar::Toggle::connect);
    };
    for (auto changed : {&SerialService::portsChanged, &SerialService::selectedPathChanged,
                         &SerialService::statusTextChanged, &SerialService::isConnectedChanged,
                         &SerialService::userWantsConnectionChanged}) {
        connect(&serial, changed, this, showLink);
    }
    for (auto changed :
         {&BleLink::deviceChanged, &BleLink::connectedChanged, &BleLink::stateChanged}) {
        connect(&ble, changed, this, showLink);
    }
    showLink();
    connect(&bar, &SerialStatusBar::portSelected, &model_, &AppModel::selectSerialPort);
    connect(&bar, &SerialStatusBar::refreshPortsRequested, &serial, &SerialService::refreshPorts);
    connect(&bar, &SerialStatusBar::connectRequested, this, [this, bluetoothLink] {
        if (bluetoothLink()) {
            model_.connectBluetooth();
        } else {
            model_.reconnectSerial();
        }
    });
    connect(&bar, &SerialStatusBar::closeRequested, this, [this, bluetoothLink] {
        if (bluetoothLink()) {
            model_.bluetooth().disconnect();
        } else {
            model_.serial().disconnect();
        }
    });
}

} // namespace orvane
