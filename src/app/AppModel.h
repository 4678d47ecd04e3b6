#pragma once

#include "app/HistoryKeeper.h"
#include "app/LinkSelector.h"
#include "app/ModelTimers.h"
#include "app/ProtocolStack.h"
#include "app/SendController.h"
#include "app/SettingsController.h"
#include "app/ToastController.h"
#include "app/ToastState.h"
#include "bluetooth/BLEUARTDevice.h"
#include "bluetooth/BluetoothCentral.h"
#include "bluetooth/BluetoothService.h"
#include "clipboard/ClipboardIO.h"
#include "clipboard/ClipboardManager.h"
#include "clipboard/ClipboardTimers.h"
#include "common/DefaultBaudRate.h"
#include "common/LogCategories.h"
#include "link/BleLink.h"
#include "storage/AppSettings.h"
#include "storage/AppStore.h"
#include "storage/DataDirectory.h"
#include "storage/HistoryService.h"
#include "storage/StoreError.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// The one object the window binds to: a façade over the parts that do the work. It builds
// the protocol stack (the serial link and the frame router), the BLE link, the clipboard
// manager and the history service, and hands each concern to its controller: which link is
// in use to the link selector, the settings and the login item to the settings controller,
// the stored history to the history keeper, sends to the send controller and banners to the
// toast controller. What it keeps itself is what the window shows across them: the error
// line, whether a link is configured, the clipboard state and the debug log's retention.
// Everything it publishes belongs to the main thread, as does every call into it.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool serialDebugLogEnabled READ serialDebugLogEnabled NOTIFY serialDebugLogEnabledChanged)
    Q_PROPERTY(bool portConfigured READ portConfigured NOTIFY portConfiguredChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool showSettings READ showSettings WRITE setShowSettings NOTIFY showSettingsChanged)
    Q_PROPERTY(
        bool isClipboardTransferring READ isClipboardTransferring NOTIFY clipboardTransferChanged)
    Q_PROPERTY(int clipboardTransferProgress READ clipboardTransferProgress NOTIFY
                   clipboardTransferChanged)

public:
    static constexpr std::chrono::milliseconds sendDoneTime = SendController::doneTime;
    static constexpr qint64 defaultBaudRate = orvane::defaultBaudRate;
    // Debug-log entries kept while the log panel is hidden: with the device's probe once a
    // second (three entries each), about the last quarter of an hour.
    static constexpr qsizetype hiddenLogEntries = 3000;

    using StoreOpener = SettingsController::StoreOpener;
    using LoginItem = SettingsController::LoginItem;

    // What the model is built from; the desktop program passes the system's, tests their own.
    struct Parts {
        SerialService::Platform serialPlatform;
        std::unique_ptr<BluetoothCentral> bluetoothCentral;
        BluetoothTimer::Factory bluetoothTimers = BluetoothTimer::eventLoopFactory();
        ClipboardIO* clipboardIO = nullptr;               // must outlive the model
        ClipboardTimers* clipboardTimers = nullptr;       // must outlive the model
        StoreOpener openStore;                            // the data directory's store when empty
        std::shared_ptr<ReceivedFileStore> receivedFiles; // the data directory when null
        std::unique_ptr<ModelTimers> timers;              // the event loop's when null
        LoginItem loginItem;                              // the XDG autostart entry when empty
        DataDirectory dataDirectory = DataDirectory::standard(); // the history's images
    };

    // Builds the components; startup() follows from the event loop.
    explicit AppModel(Parts parts, QObject* parent = nullptr);
    ~AppModel() override;

    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // ---- Start-up and links -------------------------------------------------------------
    void startup();
    void selectSerialPort(const QString& path);
    void reconnectSerial();
    void connectBluetooth();
    void saveSettings(AppSettings settings);
    void saveBluetoothDevice(const std::optional<BLEUARTDevice>& device);
    // Stops the clipboard poll and the serial service; harmless when repeated.
    void shutdown();

    // ---- Clipboard ------------------------------------------------------------------------
    void sendClipboardItem(qint64 id);
    // Ends the running send (the panel's cancel control); it reports "已取消发送".
    void cancelClipboardSend();
    void doubleClickHistoryItem(const ClipboardEntry& entry);
    void deleteClipboardItem(qint64 id);
    void clearClipboardHistory();
    void applyClipboardEntry(const ClipboardEntry& entry);
    void showToast(const QString& message, ToastKind kind);

    // ---- Settings toggles -----------------------------------------------------------------
    void applySerialDebugLogEnabled(bool enabled);
    void setAutostart(bool enabled);

    // ---- Observable state -------------------------------------------------------------------
    const AppSettings& settings() const { return settings_->current(); }
    bool serialDebugLogEnabled() const { return serialDebugLogEnabled_; }
    bool portConfigured() const { return portConfigured_; }
    const ClipboardState& clipboardState() const { return clipboardState_; }
    QString errorMessage() const { return errorMessage_; }
    bool showSettings() const { return showSettings_; }
    void setShowSettings(bool show);
    const std::optional<ToastState>& toast() const { return toasts_->current(); }
    bool isClipboardTransferring() const { return sends_->isTransferring(); }
    int clipboardTransferProgress() const { return sends_->progress(); }
    bool isAutoSelecting() const { return links_->isAutoSelecting(); }
    bool hasSendTask() const { return sends_->hasTask(); }

    SerialService& serial() { return stack_->service(); }
    BluetoothService& bluetooth() { return *bluetooth_; }
    BleLink& bleLink() { return *bleLink_; }
    LinkSelector& links() { return *links_; }
    // The link transfers go out on: the BLE link while it holds a device, the serial one
    // otherwise.
    Link& activeLink() { return stack_->activeLink(); }
    ClipboardManager& clipboard() { return *clipboard_; }
    AppStore* store() { return settings_->store().get(); }

    HistoryService& history() { return *history_; }
    SendController& sends() { return *sends_; }

    // A completed item from the device: onto the clipboard and into the history.
    void deliverTransEntry(const ClipboardEntry& entry);
    // The device's probe arrived over `source`; the first after start-up picks the link.
    void handleEchoForAutoSelect(LinkKind source);

signals:
    void settingsChanged();
    void serialDebugLogEnabledChanged();
    void portConfiguredChanged();
    void clipboardStateChanged();
    void errorMessageChanged();
    void showSettingsChanged();
    void toastChanged();
    void clipboardTransferChanged();
    // An item from the device is on the clipboard and in the history, with the id it keeps
    // there (its row id once it was stored).
    void itemReceived(const orvane::ClipboardEntry& entry);

private:
    // What an error is about: one about the link goes once the link works again.
    enum class ErrorScope { general, link };

    void setupSerialBridge();
    void startAutoConnect();
    void clearStaleSerialErrorIfNeeded();
    // A "SYS" debug-log line, emitted for the diagnostics log on `category`.
    void appendProtocolLog(const QString& message, const QLoggingCategory& category = lcApp());

    void setSerialDebugLogEnabledValue(bool enabled);
    void applyLogRetention();
    void setPortConfigured(bool configured);
    void setErrorMessage(const QString& message, ErrorScope scope = ErrorScope::general);
    void refreshClipboardState();

    Parts parts_;
    std::unique_ptr<ModelTimers> timers_;
    std::unique_ptr<ProtocolStack> stack_;
    std::unique_ptr<BluetoothService> bluetooth_;
    std::unique_ptr<BleLink> bleLink_;
    std::unique_ptr<LinkSelector> links_;
    std::unique_ptr<ClipboardManager> clipboard_;
    std::unique_ptr<SettingsController> settings_;
    std::shared_ptr<HistoryService> history_;
    std::unique_ptr<HistoryKeeper> keeper_;

    bool serialDebugLogEnabled_ = false;
    bool portConfigured_ = false;
    ClipboardState clipboardState_;
    QString errorMessage_;
    ErrorScope errorScope_ = ErrorScope::general;
    bool showSettings_ = false;
    std::unique_ptr<ToastController> toasts_;
    std::unique_ptr<SendController> sends_;

    bool hasStarted_ = false;
    bool isShutDown_ = false;
};

} // namespace orvane
