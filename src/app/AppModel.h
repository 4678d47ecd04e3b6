#pragma once

#include "app/ModelTimers.h"
#include "app/ProtocolStack.h"
#include "app/ToastState.h"
#include "bluetooth/BLEUARTDevice.h"
#include "bluetooth/BluetoothCentral.h"
#include "bluetooth/BluetoothService.h"
#include "clipboard/ClipboardIO.h"
#include "clipboard/ClipboardManager.h"
#include "clipboard/ClipboardTimers.h"
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
#include <set>
#include <stop_token>
#include <thread>
#include <vector>

namespace orvane {

// The one coordinator of the application: owns the protocol stack (with the serial service
// carrying the frames of both links), the BLE link, the clipboard watcher and the store;
// keeps the link on which the device's first probe arrives, puts received items on the
// clipboard and in the history, and runs the user's actions. Everything it publishes
// belongs to the main thread, as does every call into it.
//
// Holding the Bluetooth selection: choosing a BLE device (saveBluetoothDevice, saveSettings
// with a device) leaves the serial service exactly as a start with that device saved does:
// no serial path and the device as its Bluetooth selection. The serial port is closed for
// that (disconnect() while no Bluetooth device is selected), and only then the selection is
// handed over, so that replies and transfers go out over BLE in the same run.
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
    static constexpr std::chrono::milliseconds successToastTime{3500};
    static constexpr std::chrono::milliseconds otherToastTime{2500};
    static constexpr std::chrono::milliseconds sendDoneTime{600};
    static constexpr qint64 defaultBaudRate = 2000000;
    // Debug-log entries kept while the log panel is hidden: with the device's probe once a
    // second (three entries each), about the last quarter of an hour.
    static constexpr qsizetype hiddenLogEntries = 3000;

    using StoreOpener = std::function<Result<std::unique_ptr<AppStore>, StoreError>()>;
    using LoginItem = std::function<Status<QString>(bool enabled)>;

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
    const AppSettings& settings() const { return settings_; }
    bool serialDebugLogEnabled() const { return serialDebugLogEnabled_; }
    bool portConfigured() const { return portConfigured_; }
    const ClipboardState& clipboardState() const { return clipboardState_; }
    QString errorMessage() const { return errorMessage_; }
    bool showSettings() const { return showSettings_; }
    void setShowSettings(bool show);
    const std::optional<ToastState>& toast() const { return toast_; }
    bool isClipboardTransferring() const { return isClipboardTransferring_; }
    int clipboardTransferProgress() const { return clipboardTransferProgress_; }
    bool isAutoSelecting() const { return isAutoSelecting_; }
    bool hasSendTask() const { return sendTask_ != nullptr; }

    SerialService& serial() { return stack_->service(); }
    BluetoothService& bluetooth() { return *bluetooth_; }
    ClipboardManager& clipboard() { return *clipboard_; }
    AppStore* store() { return store_.get(); }

    HistoryService& history() { return *history_; }

    // A completed item from the device: onto the clipboard and into the history.
    void deliverTransEntry(const ClipboardEntry& entry);
    // The device's probe arrived over `source`; the first after start-up picks the link.
    void handleEchoForAutoSelect(SerialDataSource source);

signals:
    void settingsChanged();
    void serialDebugLogEnabledChanged();
    void portConfiguredChanged();
    void clipboardStateChanged();
    void errorMessageChanged();
    void showSettingsChanged();
    void toastChanged();
    void clipboardTransferChanged();

private:
    struct SendTask;

    void setupSerialBridge();
    void startAutoConnect();
    void startBLEAutoConnect();
    void clearSavedBluetoothDevice();
    void clearStaleSerialErrorIfNeeded();
    void applyStoredAutostart();
    void appendProtocolLog(const QString& message);
    void selectBluetoothInSerial(const QString& id, const QString& name);
    void connectBluetoothDevice(const QString& id);
    // A link has been chosen (by the user or by the first probe): the start-up scan no
    // longer connects what it finds, and nothing is left for the first probe to save.
    void endScanMatch();

    void persistSettings(const AppSettings& settings);
    void setSettings(const AppSettings& settings);
    void setSerialDebugLogEnabledValue(bool enabled);
    void applyLogRetention();
    void setPortConfigured(bool configured);
    void setErrorMessage(const QString& message);
    void refreshClipboardState();
    // Stores a new history entry for the clipboard manager, in the background.
    void persistClipboardEntry(const ClipboardEntry& entry);
    void setTransfer(bool transferring, int progress);

    void runSend(const std::shared_ptr<SendTask>& task, SendJob job, const QString& label);
    void finishSend(const std::shared_ptr<SendTask>& task, const QString& failure, bool cancelled);
    void endSend(const std::shared_ptr<SendTask>& task);
    void finishSendCancelledInPause(const std::shared_ptr<SendTask>& task);
    void reapSendThreads();

    Parts parts_;
    std::unique_ptr<ModelTimers> timers_;
    std::unique_ptr<ProtocolStack> stack_;
    std::unique_ptr<BluetoothService> bluetooth_;
    std::unique_ptr<ClipboardManager> clipboard_;
    std::shared_ptr<AppStore> store_;
    std::shared_ptr<HistoryService> history_;
    // Local ids of entries whose row is still being written, and those of them deleted
    // meanwhile: their row goes once its id is known.
    std::set<qint64> unstoredIDs_;
    std::set<qint64> deletedBeforeStored_;
    QString storeProblem_; // why the store could not be opened or read at start-up

    AppSettings settings_;
    bool serialDebugLogEnabled_ = false;
    bool portConfigured_ = false;
    ClipboardState clipboardState_;
    QString errorMessage_;
    bool showSettings_ = false;
    std::optional<ToastState> toast_;
    bool isClipboardTransferring_ = false;
    int clipboardTransferProgress_ = 0;

    QMetaObject::Connection bleScanConnection_;
    // The bridge the start-up scan found by its name and connected; saved as the chosen
    // device only if the first probe comes over it.
    std::optional<BLEUARTDevice> autoFoundDevice_;
    bool isAutoSelecting_ = false;
    bool hasStarted_ = false;
    bool isShutDown_ = false;
    std::optional<ModelTimers::Id> toastDismissTimer_;
    std::shared_ptr<SendTask> sendTask_;
    struct SendThread {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<SendThread> sendThreads_;
};

} // namespace orvane
