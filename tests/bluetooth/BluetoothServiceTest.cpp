// BluetoothService driven through a scripted central: the stack's events are played in by
// hand and its calls recorded, timers fire when the test says so.

#include "bluetooth/BluetoothService.h"

#include "bluetooth/BLEUUIDs.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "support/ScriptedBluetoothCentral.h"

#include <gtest/gtest.h>
#include <memory>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace orvane;
using State = BluetoothCentral::State;
using Characteristic = BluetoothCentral::Characteristic;

namespace {

const QString nordicService = BLEUUIDs::canonical(BluetoothService::nordicServiceUUID);
const QString nordicRX = BLEUUIDs::canonical(BluetoothService::nordicRXCharacteristicUUID);
const QString nordicTX = BLEUUIDs::canonical(BluetoothService::nordicTXCharacteristicUUID);
const QString hxService = BLEUUIDs::canonical(BluetoothService::hxExtServiceUUID);
const QString hxRX = BLEUUIDs::canonical(BluetoothService::hxExtRXCharacteristicUUID);
const QString hxTX = BLEUUIDs::canonical(BluetoothService::hxExtTXCharacteristicUUID);
const QString deviceA = QStringLiteral("AA:BB:CC:DD:EE:01");
const QString deviceB = QStringLiteral("AA:BB:CC:DD:EE:02");

// Timers that fire only when the test fires them.
struct ManualTimers {
    struct Pending {
        std::chrono::milliseconds delay;
        std::function<void()> task;
        bool cancelled = false;
    };
    struct Handle : BluetoothTimer {
        explicit Handle(std::shared_ptr<Pending> p)
            : pending(std::move(p)) {}
        ~Handle() override { pending->cancelled = true; }
        std::shared_ptr<Pending> pending;
    };
    BluetoothTimer::Factory factory() {
        return [this](std::chrono::milliseconds delay, std::function<void()> task) {
            auto pending = std::make_shared<Pending>(Pending{delay, std::move(task)});
            all.append(pending);
            return std::make_unique<Handle>(pending);
        };
    }
    // Fires every live timer of this delay; returns how many fired.
    int fire(std::chrono::milliseconds delay) {
        int fired = 0;
        const auto snapshot = all;
        for (const auto& pending : snapshot) {
            if (!pending->cancelled && pending->delay == delay) {
                pending->cancelled = true;
                pending->task();
                ++fired;
            }
        }
        return fired;
    }
    QList<std::shared_ptr<Pending>> all;
};

class BluetoothServiceTest : public ::testing::Test {
protected:
    BluetoothServiceTest() {
        auto owned = std::make_unique<ScriptedBluetoothCentral>();
        central = owned.get();
        central->writeTarget = deviceA;
        service = std::make_unique<BluetoothService>(
            std::move(owned),
            BluetoothService::Callbacks{{},
                                        [this](const QString& line) { logLines.append(line); },
                                        [this](const QString& line) {
                                            warnings.append(line);
                                        }},
            timers.factory());
    }

    void advertise(const QString& id, std::optional<QString> name, int rssi,
                   std::optional<QString> localName = std::nullopt) {
        service->didDiscover({id, std::move(name), std::move(localName), rssi, {}});
    }

    // Connected to deviceA with the bridge of the given service ready.
    void connectReady(const QString& serviceUUID, const QString& rx, const QString& tx) {
        advertise(deviceA, QStringLiteral("KVM"), -50);
        service->connect(deviceA, [this](const QByteArray& frame) { frames.append(frame); });
        service->didConnect(deviceA, QStringLiteral("KVM"));
        service->didDiscoverServices(deviceA, {serviceUUID});
        service->didDiscoverCharacteristics(deviceA, serviceUUID, {rx, tx});
    }

    void notify(const QByteArray& bytes, const QString& tx = nordicTX) {
        service->didUpdateValue(deviceA, {nordicService, tx}, bytes);
    }

    ManualTimers timers;
    ScriptedBluetoothCentral* central = nullptr;
    std::unique_ptr<BluetoothService> service;
    QStringList logLines;
    QStringList warnings;
    QList<QByteArray> frames;
};

QByteArray probe(quint32 sn, int payloadSize) {
    return ProtocolWire::buildPacket(0x01, FrameType::PERIPHERAL_ECHO, sn,
                                     QByteArray(payloadSize, char(sn)));
}

} // namespace

TEST_F(BluetoothServiceTest, EveryCentralStateSetsBothTextsAndActs) {
    EXPECT_EQ(service->statusText(), "未连接");
    EXPECT_EQ(service->authorizationStatusText(), "未请求权限");
    const struct {
        State state;
        const char* authorization;
        const char* status;
    } table[] = {
        {State::unknown, "未请求权限", "蓝牙状态未知"},
        {State::resetting, "蓝牙重置中", "蓝牙重置中"},
        {State::unsupported, "不支持蓝牙", "当前设备不支持蓝牙，或运行在虚拟机等无蓝牙环境"},
        {State::unauthorized, "未授权", "无蓝牙权限，请在系统设置中授权 Orvane"},
        {State(9), "未知", "蓝牙不可用，请检查系统蓝牙状态"},
    };
    for (const auto& row : table) {
        central->currentState = row.state;
        service->centralStateChanged(row.state);
        EXPECT_EQ(service->authorizationStatusText(), QString::fromUtf8(row.authorization));
        EXPECT_EQ(service->statusText(), QString::fromUtf8(row.status));
    }
    EXPECT_EQ(central->scansStarted, 0);

    // Power on: a scan starts; with no saved device (an empty identifier) nobody is asked
    // to connect.
    int autoConnects = 0;
    service->setAutoConnectDeviceID(QString());
    service->setOnAutoConnect([&] { ++autoConnects; });
    central->currentState = State::poweredOn;
    service->centralStateChanged(State::poweredOn);
    EXPECT_EQ(service->authorizationStatusText(), "已授权");
    EXPECT_EQ(service->statusText(), "正在扫描 BLE 设备…");
    EXPECT_TRUE(service->isScanning());
    EXPECT_EQ(central->scansStarted, 1);
    EXPECT_EQ(timers.fire(BluetoothService::autoConnectDelay), 0);

    // A device the owner names only after the power-on is asked for a second later, once
    // however often the owner asks.
    service->setAutoConnectDeviceID(deviceA);
    service->requestAutoConnect();
    service->requestAutoConnect();
    EXPECT_EQ(autoConnects, 0);
    EXPECT_EQ(timers.fire(BluetoothService::autoConnectDelay), 1);
    EXPECT_EQ(autoConnects, 1);

    // Power off ends the scan, and says so rather than summarising the scan.
    advertise(deviceA, QStringLiteral("KVM"), -50);
    central->currentState = State::poweredOff;
    service->centralStateChanged(State::poweredOff);
    EXPECT_FALSE(service->isScanning());
    EXPECT_EQ(service->statusText(), "蓝牙已关闭，请在系统设置中开启");
    EXPECT_GE(central->scansStopped, 1);
    EXPECT_EQ(timers.fire(BluetoothService::scanDuration), 0) << "the scan timer was cancelled";
    service->startScan();
    EXPECT_EQ(service->statusText(), "蓝牙已关闭，请在系统设置中开启");
    EXPECT_EQ(central->scansStarted, 1);
}

TEST_F(BluetoothServiceTest, ScanListsPeripheralsInPlaceAndSummarises) {
    service->startScan();
    advertise(deviceA, QStringLiteral("KVM"), -60);
    advertise(deviceB, std::nullopt, -70, QStringLiteral("Local"));
    advertise(QStringLiteral("AA:BB:CC:DD:EE:03"), std::nullopt, -80);
    advertise(deviceA, QStringLiteral("KVM2"), -40); // seen again: updated, not added
    ASSERT_EQ(service->devices().size(), 3);
    EXPECT_EQ(service->devices()[0], (BLEUARTDevice{deviceA, QStringLiteral("KVM2"), -40}));
    EXPECT_EQ(service->devices()[1].name, "Local");
    EXPECT_EQ(service->devices()[2].displayName(), "未知设备 (DD:EE:03) · RSSI -80 dBm");

    service->setShowNamedOnly(true);
    ASSERT_EQ(service->filteredDevices().size(), 2);
    EXPECT_EQ(service->filteredDevices()[1].id, deviceB);

    timers.fire(BluetoothService::scanDuration);
    EXPECT_FALSE(service->isScanning());
    EXPECT_EQ(service->statusText(), "发现 3 个 BLE 设备（2 个有名称，1 个无名称）");

    // A new scan starts from an empty list; finding nothing says so after 10 s.
    service->startScan();
    EXPECT_TRUE(service->devices().isEmpty());
    timers.fire(BluetoothService::scanDuration);
    EXPECT_EQ(service->statusText(), "扫描完成，未发现 BLE 设备");

    // A scan ending while connected leaves the connection's line alone.
    connectReady(nordicService, nordicRX, nordicTX);
    service->startScan();
    const QString during = service->statusText();
    service->stopScan();
    EXPECT_EQ(service->statusText(), during);
}

TEST_F(BluetoothServiceTest, ConnectLooksThePeripheralUpInOrder) {
    service->connect(QStringLiteral("not-an-address"), {});
    EXPECT_EQ(service->statusText(), "设备 ID 无效");
    service->connect(deviceA, {});
    EXPECT_EQ(service->statusText(), "未找到设备，请先扫描或在系统蓝牙中断开该设备");
    EXPECT_TRUE(central->connectRequests.isEmpty());
    EXPECT_EQ(central->connectedQueryServices, (QStringList{nordicService, hxService}));

    central->known = {deviceB};
    service->connect(deviceB.toLower(), {});
    EXPECT_EQ(central->connectRequests, QStringList{deviceB});
    EXPECT_EQ(service->connectedDeviceID(), deviceB);
    EXPECT_FALSE(service->isConnected());

    // Connected through the system already: connected at once, services asked for at once.
    central->systemConnected = {deviceA};
    service->connect(deviceA, {});
    EXPECT_EQ(service->statusText(), "已连接（系统蓝牙）");
    EXPECT_TRUE(service->isConnected());
    EXPECT_EQ(central->connectRequests.size(), 1);
    EXPECT_EQ(central->serviceDiscoveries,
              QStringList{deviceA + " " + nordicService + "," + hxService});
}

TEST_F(BluetoothServiceTest, ConnectionEventsRenameAndDiscoverBothVariants) {
    advertise(deviceA, std::nullopt, -50);
    QList<BLEUARTDevice> renamed;
    service->connect(deviceA, {}, [&](const BLEUARTDevice& d) { renamed.append(d); });
    service->didConnect(deviceA, QStringLiteral("ZE DOZ ERA"));
    EXPECT_EQ(service->statusText(), "已连接");
    EXPECT_TRUE(service->isConnected());
    ASSERT_EQ(renamed.size(), 1);
    EXPECT_EQ(renamed[0], (BLEUARTDevice{deviceA, QStringLiteral("ZE DOZ ERA"), -50}));

    service->didDiscoverServices(deviceA, {QStringLiteral("180A"), QStringLiteral("fff0")});
    EXPECT_EQ(central->characteristicDiscoveries, QStringList{hxService + " " + hxRX + "," + hxTX});
    service->didDiscoverCharacteristics(deviceA, hxService, {hxTX, hxRX});
    ASSERT_EQ(central->notifying.size(), 1);
    EXPECT_EQ(central->notifying[0], (Characteristic{hxService, hxTX}));
    service->write("x");
    ASSERT_EQ(central->writes.size(), 1);
    EXPECT_EQ(central->writes[0].first, (Characteristic{hxService, hxRX}));

    service->didUpdateNotificationState(deviceA, {hxService, hxTX},
                                        BLEError{BLEError::Kind::other, QStringLiteral("denied")});
    EXPECT_EQ(service->statusText(), "通知订阅失败: denied");
}

TEST_F(BluetoothServiceTest, WritesAreQueuedUntilReadyThenChunkedInOrder) {
    service->write(QByteArray(25, 'a'));
    service->write(QByteArray(3, 'b'));
    EXPECT_EQ(service->pendingWriteCount(), 2);
    connectReady(nordicService, nordicRX, nordicTX);
    EXPECT_EQ(service->pendingWriteCount(), 0);
    service->write(QByteArray(45, 'c'));
    service->write(QByteArray());
    QList<QByteArray> pieces;
    for (const auto& [characteristic, bytes] : central->writes) {
        EXPECT_EQ(characteristic, (Characteristic{nordicService, nordicRX}));
        pieces.append(bytes);
    }
    EXPECT_EQ(pieces,
              (QList<QByteArray>{QByteArray(20, 'a'), QByteArray(5, 'a'), QByteArray(3, 'b'),
                                 QByteArray(20, 'c'), QByteArray(20, 'c'), QByteArray(5, 'c')}));

    // A stack that reports no usable length still gets pieces, of the fallback size.
    central->writes.clear();
    central->writeLength = 0;
    service->write(QByteArray(21, 'd'));
    ASSERT_EQ(central->writes.size(), 2);
    EXPECT_EQ(central->writes[1].second.size(), 1);
}

TEST_F(BluetoothServiceTest, PendingWritesBeyondTheBoundAreRefusedAloud) {
    const QByteArray big(BluetoothService::pendingWriteLimitBytes / 2, 'x');
    service->write(big);
    service->write(big);
    service->write("1");
    EXPECT_EQ(service->pendingWriteCount(), 2);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("[BLE] write of 1 B refused")) << warnings[0].toStdString();
}

TEST_F(BluetoothServiceTest, NotificationsAreReassembledIntoFrames) {
    connectReady(nordicService, nordicRX, nordicTX);
    QList<QByteArray> raw;
    service->setOnRawDataReceived([&](const QByteArray& bytes) { raw.append(bytes); });

    const QByteArray first = probe(1, 30); // 51 bytes over three notifications
    notify(first.left(20));
    notify(first.mid(20, 20));
    EXPECT_TRUE(frames.isEmpty());
    notify(first.mid(40));
    EXPECT_EQ(frames, QList<QByteArray>{first});
    EXPECT_EQ(raw.size(), 3);

    const QByteArray second = probe(2, 4);
    const QByteArray third = probe(3, 8);
    notify(second + third);
    EXPECT_EQ(frames, (QList<QByteArray>{first, second, third}));
    EXPECT_EQ(service->bufferedByteCount(), 0);

    // Only the bridge's notify characteristics count.
    service->didUpdateValue(deviceA, {nordicService, nordicRX}, probe(4, 1));
    EXPECT_EQ(frames.size(), 3);
    notify(probe(5, 1), hxTX);
    EXPECT_EQ(frames.size(), 4);

    // Noise is dropped with one line; a frame behind it still arrives.
    notify(QByteArray(40, '\x11'));
    notify(probe(6, 2));
    EXPECT_EQ(frames.size(), 5);
    ASSERT_EQ(logLines.size(), 1);
    EXPECT_TRUE(logLines[0].startsWith("[BLE] 帧重组问题: ")) << logLines[0].toStdString();
}

TEST_F(BluetoothServiceTest, DisconnectionsEndTheLinkWithTheRightText) {
    connectReady(nordicService, nordicRX, nordicTX);
    // Another peripheral going away: the link is reported down, our identifier stays.
    service->didDisconnect(deviceB, std::nullopt);
    EXPECT_FALSE(service->isConnected());
    EXPECT_EQ(service->statusText(), "已断开");
    EXPECT_EQ(service->connectedDeviceID(), deviceA);
    service->write("queued"); // characteristics forgotten: the write waits
    EXPECT_EQ(service->pendingWriteCount(), 1);
    EXPECT_TRUE(central->writes.isEmpty());

    service->didDisconnect(deviceA, BLEError{BLEError::Kind::pairingRemoved, QStringLiteral("x")});
    EXPECT_EQ(service->statusText(), "对端已删除配对信息，请在系统蓝牙中忽略该设备后重新配对");
    EXPECT_TRUE(service->connectedDeviceID().isEmpty());

    service->didFailToConnect(deviceA, BLEError{BLEError::Kind::connectionTimeout, {}});
    EXPECT_EQ(service->statusText(), "连接超时，请确认设备在范围内");
    service->didFailToConnect(deviceA, BLEError{BLEError::Kind::other, QStringLiteral("Busy")});
    EXPECT_EQ(service->statusText(), "Busy");

    connectReady(nordicService, nordicRX, nordicTX);
    service->disconnect();
    EXPECT_EQ(central->cancelled, QStringList{deviceA});
    EXPECT_EQ(service->statusText(), "未连接");
    EXPECT_FALSE(service->isConnected());
    EXPECT_TRUE(service->connectedDeviceID().isEmpty());
    // A late characteristic answer from the dropped peripheral is not taken up.
    service->didDiscoverCharacteristics(deviceA, nordicService, {nordicRX, nordicTX});
    service->write("y");
    EXPECT_EQ(service->pendingWriteCount(), 1);
}

TEST(BLEUARTDeviceTest, DisplayNameAndJson) {
    const BLEUARTDevice named{QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("KVM"), -42};
    EXPECT_EQ(named.displayName(), "KVM · RSSI -42 dBm");
    EXPECT_EQ(BLEUARTDevice::fromJson(named.toJson()), named);
    EXPECT_EQ(BLEUARTDevice::fromJson({{"id", "x"}, {"name", "y"}}), std::nullopt);
    EXPECT_EQ(BLEUUIDs::canonical(QStringLiteral("fff0")), "0000FFF0-0000-1000-8000-00805F9B34FB");
}
