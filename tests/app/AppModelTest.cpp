// The application model with the real serial service, protocol stack and store, against
// the simulated device on a pseudo-terminal; the clipboard and the model's timers run on
// one fake clock.
#include "app/AppModel.h"

#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "support/FakeModelTimers.h"
#include "support/ScriptedBluetoothCentral.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    return test::waitUntil(done, timeoutMs);
}

std::optional<QJsonObject> waitForEvent(DevsimProcess& device, const QString& kind,
                                        int timeoutMs = 8000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (auto event = device.waitFor(kind, {}, 10)) {
            return event;
        }
    }
    return std::nullopt;
}

class AppModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
        databasePath = data.filePath(QStringLiteral("test.db"));
    }

    std::unique_ptr<AppStore> openStore() {
        auto store = AppStore::open(databasePath, [this] { return clock.nowMs(); });
        EXPECT_TRUE(bool(store));
        return store ? std::move(store.value()) : nullptr;
    }

    std::unique_ptr<AppModel> makeModel(const QString& port,
                                        std::unique_ptr<BluetoothCentral> central = nullptr) {
        AppModel::Parts parts;
        parts.serialPlatform = ProtocolStack::singlePortPlatform(port);
        parts.bluetoothCentral = std::move(central);
        parts.clipboardIO = &io;
        parts.clipboardTimers = &clock;
        parts.timers = std::make_unique<FakeModelTimers>(clock);
        parts.openStore = [this] {
            return AppStore::openOrRecover(databasePath, [this] { return clock.nowMs(); });
        };
        auto model = std::make_unique<AppModel>(std::move(parts));
        QCoreApplication::processEvents(); // startup()
        return model;
    }

    QTemporaryDir data;
    QString databasePath;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
};

TEST_F(AppModelTest, FirstProbeOverSerialKeepsSerialAndReceivedItemsLandEverywhere) {
    const QString source = data.filePath(QStringLiteral("report.txt"));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("file body\n");
    }
    DevsimProcess device(
        {"--interval", "100", "--push-text", "你好, model", "--push-file", source});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    {
        // A port and a BLE device both saved: the link that answers first wins.
        auto store = openStore();
        AppSettings settings;
        settings.serialPort = device.link;
        settings.bluetoothDeviceID = QStringLiteral("AA:BB:CC:DD:EE:FF");
        settings.bluetoothDeviceName = QStringLiteral("ZE DOZ ERA");
        ASSERT_TRUE(store->saveSettings(settings));
    }
    auto model = makeModel(device.link);
    EXPECT_TRUE(model->isAutoSelecting());
    EXPECT_FALSE(model->showSettings());

    ASSERT_TRUE(waitUntil([&] { return !model->isAutoSelecting(); }));
    EXPECT_EQ(model->settings().serialPort, device.link);
    EXPECT_TRUE(model->settings().bluetoothDeviceID.isEmpty());
    EXPECT_TRUE(openStore()->getSettings()->bluetoothDeviceID.isEmpty());
    EXPECT_TRUE(model->bleLink().deviceID().isEmpty());

    ASSERT_TRUE(waitUntil([&] { return model->clipboardState().history.size() >= 2; }, 10000));
    const auto& history = model->clipboardState().history;
    EXPECT_EQ(history[0].kind, ClipboardKind::files);
    EXPECT_EQ(history[1].text, QStringLiteral("你好, model"));
    ASSERT_EQ(history[0].files.size(), 1);
    QFile received(history[0].files[0]);
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_EQ(received.readAll(), QByteArray("file body\n"));
    // The file is what is on the clipboard now, and both are stored.
    EXPECT_GE(io.writes, 2);
    EXPECT_EQ(io.content.kind, ClipboardKind::files);
    // The rows are written in the background.
    EXPECT_TRUE(waitUntil([&] {
        auto rows = openStore()->listClipboardRecords(30);
        return rows && rows->size() == 2;
    }));

    // Sending the received text back: progress, the success toast, then idle after the
    // pause, and the device gets the text intact.
    QList<int> progress;
    QObject::connect(model.get(), &AppModel::clipboardTransferChanged,
                     [&] { progress.append(model->clipboardTransferProgress()); });
    device.skipPending();
    ASSERT_TRUE(waitUntil([&] { return model->serial().isConnected(); }));
    model->sendClipboardItem(history[1].id);
    EXPECT_TRUE(model->isClipboardTransferring()) << model->errorMessage().toStdString();
    const auto done = waitForEvent(device, QStringLiteral("receive_done"));
    ASSERT_TRUE(done);
    EXPECT_TRUE(
        done->value(QStringLiteral("text")).toString().contains(QStringLiteral("你好, model")));
    ASSERT_TRUE(waitUntil([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->message, QStringLiteral("发送成功 · 文本"));
    EXPECT_EQ(model->toast()->kind, ToastKind::success);
    EXPECT_TRUE(model->isClipboardTransferring());
    EXPECT_EQ(model->clipboardTransferProgress(), 100);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    clock.advance(AppModel::sendDoneTime);
    EXPECT_FALSE(model->isClipboardTransferring());
    EXPECT_EQ(model->clipboardTransferProgress(), 0);
    EXPECT_TRUE(model->errorMessage().isEmpty());

    model->shutdown();
    model->shutdown();
}

TEST_F(AppModelTest, CancellingDuringThePauseAfterASendWarns) {
    DevsimProcess device({"--interval", "100", "--push-text", "x"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    auto model = makeModel(device.link);
    model->selectSerialPort(device.link);
    ASSERT_TRUE(waitUntil([&] { return !model->clipboardState().history.isEmpty(); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return model->serial().isConnected(); }));
    model->sendClipboardItem(model->clipboardState().history[0].id);
    ASSERT_TRUE(waitUntil([&] { return model->toast().has_value(); }, 10000));
    EXPECT_EQ(model->toast()->kind, ToastKind::success);
    model->cancelClipboardSend();
    EXPECT_EQ(model->toast()->message, QStringLiteral("已取消发送"));
    EXPECT_EQ(model->toast()->kind, ToastKind::warning);
    EXPECT_FALSE(model->isClipboardTransferring());
    EXPECT_FALSE(model->hasSendTask());
}

TEST_F(AppModelTest, CancelledAndBusySendsDeliverNothingAndTheLinkGoesOn) {
    const QString saved = data.filePath(QStringLiteral("device"));
    DevsimProcess device({"--interval", "200", "--buffer-size", "1024", "--save-dir", saved});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    const QString big = data.filePath(QStringLiteral("big.bin"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4 << 20, 'b'));
    }
    // Stored beforehand: what is copied while the stored history loads may be replaced by it.
    qint64 fileID = 0, textID = 0;
    {
        auto store = openStore();
        fileID =
            store
                ->addClipboardRecord(
                    {0, QStringLiteral("files"), big, QStringLiteral("[\"%1\"]").arg(big), {}, 1})
                .value();
        textID = store
                     ->addClipboardRecord(
                         {0, QStringLiteral("text"), QStringLiteral("small"), {}, {}, 2})
                     .value();
    }
    auto model = makeModel(device.link);
    model->selectSerialPort(device.link);
    ASSERT_TRUE(waitUntil([&] { return model->clipboardState().history.size() == 2; }));
    ASSERT_TRUE(waitUntil([&] { return model->serial().isConnected(); }, 8000));
    const auto startFileSend = [&] {
        model->sendClipboardItem(fileID);
        return waitUntil([&] { return model->clipboardTransferProgress() > 0; }, 10000);
    };
    const auto idleAfterCancel = [&] {
        return waitUntil(
                   [&] {
                       return model->toast() &&
                              model->toast()->message == QStringLiteral("已取消发送");
                   },
                   10000) &&
               model->toast()->kind == ToastKind::warning && !model->hasSendTask() &&
               !model->isClipboardTransferring() && model->clipboardTransferProgress() == 0;
    };

    // Cancelled with part of the file sent: warned, idle again.
    ASSERT_TRUE(startFileSend());
    model->cancelClipboardSend();
    EXPECT_TRUE(idleAfterCancel());
    EXPECT_TRUE(model->errorMessage().isEmpty());

    // A second send while the first one runs: the first is cancelled. When the second finds
    // the sender still unwinding it, it is refused as busy; a sender already done with it
    // (a slow machine) takes the second, which the device then receives below anyway.
    ASSERT_TRUE(startFileSend());
    model->sendClipboardItem(textID);
    const QString busy = QStringLiteral("另一个剪贴板传输正在进行中");
    int itemsDelivered = 1;
    if (model->errorMessage() == busy) {
        ASSERT_TRUE(model->toast());
        EXPECT_EQ(model->toast()->message, busy);
        EXPECT_EQ(model->toast()->kind, ToastKind::error);
        EXPECT_TRUE(idleAfterCancel());
    } else {
        EXPECT_TRUE(model->errorMessage().isEmpty());
        ASSERT_TRUE(waitForEvent(device, QStringLiteral("receive_done"), 10000));
        ASSERT_TRUE(waitUntil(
            [&] { return model->toast() && model->toast()->kind == ToastKind::success; }, 10000));
        clock.advance(AppModel::sendDoneTime);
        EXPECT_FALSE(model->hasSendTask());
        ++itemsDelivered;
    }

    // The link carries the next send, and the device has only the texts.
    device.skipPending();
    model->sendClipboardItem(textID);
    const auto done = waitForEvent(device, QStringLiteral("receive_done"), 10000);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->value(QStringLiteral("size")).toInt(), 5);
    ASSERT_TRUE(waitUntil([&] { return model->toast()->kind == ToastKind::success; }));
    EXPECT_EQ(QDir(saved).entryList(QDir::Files).size(), itemsDelivered);
}

TEST_F(AppModelTest, TornDownWhileTheDeviceProbesFast) {
    // Frames still being handled on the protocol queue while the model goes call back
    // into the stack; nothing of it may be gone yet.
    DevsimProcess device({"--interval", "10"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    for (int round = 0; round < 4; ++round) {
        auto model = makeModel(device.link);
        if (round == 0) {
            model->selectSerialPort(device.link);
        }
        device.skipPending();
        ASSERT_TRUE(waitForEvent(device, QStringLiteral("probe_matched")));
        model.reset();
    }
}

TEST_F(AppModelTest, LinkDownFailsTheSendAndToastsAreTimed) {
    auto model = makeModel(QString());
    EXPECT_TRUE(model->showSettings()); // first run: nothing configured
    io.copyText(QStringLiteral("local text"));
    clock.advance(std::chrono::milliseconds(1000));
    ASSERT_TRUE(waitUntil([&] { return !model->clipboardState().history.isEmpty(); }));

    model->sendClipboardItem(model->clipboardState().history[0].id);
    const QString closed = TransError(TransError::Code::serialClosed).errorDescription();
    EXPECT_EQ(model->errorMessage(), closed);
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->message, closed);
    EXPECT_FALSE(model->isClipboardTransferring());

    model->sendClipboardItem(987654);
    EXPECT_EQ(model->errorMessage(), QStringLiteral("找不到剪贴板记录"));
    // An error toast lasts 2.5 s; a newer one replaces it and gets its own full time.
    clock.advance(std::chrono::milliseconds(2000));
    model->showToast(QStringLiteral("ok"), ToastKind::success);
    clock.advance(std::chrono::milliseconds(3400));
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->message, QStringLiteral("ok"));
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_FALSE(model->toast());
}

TEST_F(AppModelTest, AProbeOverBluetoothHandsTheSerialServiceTheDevice) {
    {
        auto store = openStore();
        AppSettings settings;
        settings.bluetoothDeviceID = QStringLiteral("AA:BB");
        settings.bluetoothDeviceName = QStringLiteral("ZE DOZ ERA");
        ASSERT_TRUE(store->saveSettings(settings));
    }
    auto model = makeModel(QString());
    EXPECT_EQ(model->bleLink().deviceID(), QStringLiteral("AA:BB"));
    // Only the first probe decides: a later one over serial keeps the saved device.
    model->handleEchoForAutoSelect(LinkKind::bluetooth);
    EXPECT_FALSE(model->isAutoSelecting());
    model->handleEchoForAutoSelect(LinkKind::serial);
    EXPECT_EQ(model->settings().bluetoothDeviceID, QStringLiteral("AA:BB"));

    auto second = makeModel(QString());
    model.reset();
    second->handleEchoForAutoSelect(LinkKind::bluetooth);
    EXPECT_EQ(second->bleLink().deviceID(), QStringLiteral("AA:BB"));
    EXPECT_TRUE(second->serial().selectedPath().isEmpty());
    EXPECT_EQ(second->settings().bluetoothDeviceID, QStringLiteral("AA:BB"));
}

TEST_F(AppModelTest, ABridgeFoundByNameIsSavedOnlyWhenTheFirstProbeComesOverIt) {
    const QString port = data.filePath(QStringLiteral("no-such-port"));
    const QString found = QStringLiteral("C0:FF:EE:00:00:01");
    {
        auto store = openStore();
        AppSettings settings;
        settings.serialPort = port;
        ASSERT_TRUE(store->saveSettings(settings));
    }
    const auto stored = [this] {
        return openStore()->getSettings().value();
    };
    for (const LinkKind source : {LinkKind::serial, LinkKind::bluetooth}) {
        auto owned = std::make_unique<ScriptedBluetoothCentral>();
        ScriptedBluetoothCentral* central = owned.get();
        auto model = makeModel(port, std::move(owned));
        model->bluetooth().didDiscover({found, QStringLiteral("ZE DOZ ERA"), {}, -50, {}});
        EXPECT_EQ(central->connectRequests, QStringList{found});
        // Connected but not chosen: a run that ends before any probe keeps the port.
        EXPECT_EQ(stored().serialPort, port);
        EXPECT_TRUE(stored().bluetoothDeviceID.isEmpty());

        model->handleEchoForAutoSelect(source);
        if (source == LinkKind::serial) {
            EXPECT_EQ(stored().serialPort, port);
            EXPECT_TRUE(stored().bluetoothDeviceID.isEmpty());
            EXPECT_EQ(central->cancelled, QStringList{found});
        } else {
            EXPECT_TRUE(stored().serialPort.isEmpty());
            EXPECT_EQ(stored().bluetoothDeviceID, found);
            EXPECT_EQ(model->bleLink().deviceID(), found);
            EXPECT_TRUE(model->serial().selectedPath().isEmpty());
        }
    }
}

TEST_F(AppModelTest, SettingsActionsAndTheirErrors) {
    auto model = makeModel(QString());
    model->reconnectSerial();
    EXPECT_EQ(model->errorMessage(), QStringLiteral("请先选择串口"));
    model->connectBluetooth();
    EXPECT_EQ(model->errorMessage(), QStringLiteral("未选择蓝牙设备"));

    AppSettings both;
    both.serialPort = QStringLiteral("/dev/ttyACM7");
    both.baudRate = 0;
    both.bluetoothDeviceID = QStringLiteral("AA");
    model->saveSettings(both);
    EXPECT_TRUE(model->errorMessage().isEmpty());
    EXPECT_TRUE(model->settings().bluetoothDeviceID.isEmpty());
    EXPECT_EQ(model->serial().baudRate(), AppModel::defaultBaudRate);
    EXPECT_TRUE(model->portConfigured());
    EXPECT_FALSE(model->showSettings());

    // A BLE device chosen: the links hold it as a start with it saved would.
    model->saveBluetoothDevice(BLEUARTDevice{QStringLiteral("11:22"), QStringLiteral("Dev"), 0});
    EXPECT_TRUE(model->settings().serialPort.isEmpty());
    EXPECT_TRUE(model->serial().selectedPath().isEmpty());
    EXPECT_EQ(model->bleLink().deviceID(), QStringLiteral("11:22"));
    EXPECT_EQ(model->links().selection(),
              LinkSelection(BleLinkChoice{QStringLiteral("11:22"), QStringLiteral("Dev")}));
    EXPECT_TRUE(model->serial().otherLinkChosen());
    model->selectSerialPort(QStringLiteral("/dev/ttyACM7"));
    EXPECT_EQ(model->links().selection(),
              LinkSelection(SerialLinkChoice{QStringLiteral("/dev/ttyACM7")}));
    EXPECT_FALSE(model->serial().otherLinkChosen());
    EXPECT_FALSE(model->bleLink().isChosen());

    model->setAutostart(true);
    EXPECT_TRUE(model->settings().autostart);
    QFile entry(data.filePath(QStringLiteral("config/autostart/orvane.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains(QStringLiteral("Exec=\"%1\" --autostart\n")
                                             .arg(QCoreApplication::applicationFilePath())
                                             .toUtf8()));
    entry.close();
    model->setAutostart(false);
    EXPECT_FALSE(entry.exists());
}

TEST_F(AppModelTest, AnAutostartEntryWithoutTheLoginOptionIsRewrittenAtStart) {
    const QString path = data.filePath(QStringLiteral("config/autostart/orvane.desktop"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile entry(path);
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nExec=\"/usr/bin/orvane\"\n");
    entry.close();
    {
        auto store = openStore();
        AppSettings settings;
        settings.autostart = true;
        ASSERT_TRUE(store->saveSettings(settings));
    }
    auto model = makeModel(data.filePath(QStringLiteral("no-device")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\" --autostart\n"));
}

TEST_F(AppModelTest, AGarbageStoreIsReplacedAndTheUserToldWhereItWent) {
    DevsimProcess device({"--interval", "100"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    {
        QFile file(databasePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, '\x5a'));
    }
    auto model = makeModel(device.link);
    ASSERT_NE(model->store(), nullptr) << model->errorMessage().toStdString();
    ASSERT_TRUE(model->store()->damagedCopy());
    const QString aside = QFileInfo(*model->store()->damagedCopy()).fileName();
    EXPECT_TRUE(aside.startsWith(QStringLiteral("test.db.damaged-")));
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("配置和历史数据库已损坏，已移至 %1 并重新创建").arg(aside));
    EXPECT_TRUE(model->showSettings());

    model->selectSerialPort(device.link);
    EXPECT_TRUE(model->errorMessage().isEmpty());
    EXPECT_EQ(openStore()->getSettings()->serialPort, device.link);
    device.skipPending();
    EXPECT_TRUE(waitForEvent(device, QStringLiteral("probe_matched")));
}

TEST_F(AppModelTest, WithoutAStoreSettingsHoldForThisRunAndTheLinkWorks) {
    // Not a damaged file, so it stays where it is.
    ASSERT_TRUE(QDir().mkpath(databasePath));
    DevsimProcess device({"--interval", "100", "--push-text", "kept in memory"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    auto model = makeModel(QString());
    EXPECT_EQ(model->store(), nullptr);
    EXPECT_TRUE(model->errorMessage().startsWith(QStringLiteral("配置存储不可用: ")));

    model->selectSerialPort(device.link);
    const QString notSaved = QStringLiteral("设置已生效，但未能保存: ");
    EXPECT_TRUE(model->errorMessage().startsWith(notSaved)) << model->errorMessage().toStdString();
    EXPECT_EQ(model->settings().serialPort, device.link);
    EXPECT_TRUE(model->portConfigured());
    ASSERT_TRUE(waitUntil([&] { return model->serial().isConnected(); }, 8000));
    ASSERT_TRUE(waitUntil([&] { return !model->clipboardState().history.isEmpty(); }, 10000));
    EXPECT_EQ(model->clipboardState().history[0].text, QStringLiteral("kept in memory"));
    EXPECT_EQ(io.content.text, QStringLiteral("kept in memory"));

    const bool before = model->serialDebugLogEnabled();
    model->applySerialDebugLogEnabled(!before);
    EXPECT_EQ(model->serialDebugLogEnabled(), !before);
    EXPECT_TRUE(model->errorMessage().startsWith(notSaved));
    model->saveBluetoothDevice(BLEUARTDevice{QStringLiteral("11:22"), QStringLiteral("Dev"), 0});
    EXPECT_EQ(model->settings().bluetoothDeviceID, QStringLiteral("11:22"));
    EXPECT_TRUE(QFileInfo(databasePath).isDir());
}

} // namespace
} // namespace orvane
