// The BLE link through the real Qt Bluetooth stack, against the BlueZ stand-in on a private
// system bus whose bridges lead to the simulated device. Qt keeps its system-bus
// connection for the life of the process, so the whole program shares one stand-in.

#include "platform/linux/QtBluetoothCentral.h"

#include "bluetooth/BluetoothService.h"
#include "platform/linux/BleControllerErrorText.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "support/BleStandinProcess.h"
#include "support/DevsimProcess.h"

#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace orvane;

namespace {

const QString nordicBridge = QStringLiteral("C0:FF:EE:00:00:01");
const QString fff0Bridge = QStringLiteral("C0:FF:EE:00:00:02");
const QString unnamedPeripheral = QStringLiteral("C0:FF:EE:00:00:03");
constexpr int waitMs = 8000;

class QtBluetoothCentralTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        device = new DevsimProcess({QStringLiteral("--interval"), QStringLiteral("200")});
        standin = new BleStandinProcess(
            {QStringLiteral("--link"), device->link, QStringLiteral("--nordic"), nordicBridge,
             QStringLiteral("--fff0"), fff0Bridge, QStringLiteral("--unnamed"), unnamedPeripheral});
        if (standin->isReady()) {
            standin->useInThisProcess();
        }
    }
    static void TearDownTestSuite() {
        delete standin;
        delete device;
    }

    void SetUp() override {
        if (!standin->skipReason().isEmpty()) {
            GTEST_SKIP() << standin->skipReason().toStdString();
        }
        ASSERT_TRUE(standin->isReady()) << standin->error().toStdString();
        service = std::make_unique<BluetoothService>(
            std::make_unique<QtBluetoothCentral>(
                [this](const QString& line) { warnings.append(line); }),
            BluetoothService::Callbacks{});
    }
    void TearDown() override {
        if (service && service->isConnected()) {
            service->disconnect();
            QTest::qWait(50); // lets the stand-in see the disconnection
        }
        service.reset();
    }

    // Waits, with the event loop running, for devsim to report an event of this kind.
    bool waitForDevice(const QString& kind) {
        return QTest::qWaitFor([&] { return device->waitFor(kind, {}, 0).has_value(); }, waitMs);
    }

    void connectAndAnswerProbes(const QString& address) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->isScanning(); }, waitMs));
        service->connect(address, [this](const QByteArray& frame) {
            frames.append(frame);
            const auto header = ProtocolWire::parseHeader(frame);
            if (header && header->type == FrameType::PERIPHERAL_ECHO) {
                service->write(frame); // the probe goes back unchanged
            }
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->isConnected(); }, waitMs))
            << service->statusText().toStdString();
        EXPECT_EQ(service->statusText(), "已连接");
        EXPECT_EQ(service->connectedDeviceID(), address);
        device->skipPending();
        ASSERT_TRUE(waitForDevice(QStringLiteral("probe_matched")));
        ASSERT_TRUE(waitForDevice(QStringLiteral("probe_matched")));
        EXPECT_GE(frames.size(), 2);
    }

    static inline DevsimProcess* device = nullptr;
    static inline BleStandinProcess* standin = nullptr;
    std::unique_ptr<BluetoothService> service;
    QList<QByteArray> frames;
    QStringList warnings; // a scan cut short by a power switch is worth a warning, no more
};

} // namespace

TEST_F(QtBluetoothCentralTest, ScanFindsEveryPeripheralWithAndWithoutName) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->devices().size() == 3; }, waitMs))
        << service->devices().size() << " " << service->statusText().toStdString();
    EXPECT_EQ(service->authorizationStatusText(), "已授权");
    service->stopScan();
    EXPECT_EQ(service->statusText(), "发现 3 个 BLE 设备（2 个有名称，1 个无名称）");
    service->setShowNamedOnly(true);
    QStringList named;
    for (const BLEUARTDevice& d : service->filteredDevices()) {
        named.append(d.id);
        EXPECT_EQ(d.name, "ZE DOZ ERA");
    }
    named.sort();
    EXPECT_EQ(named, (QStringList{nordicBridge, fff0Bridge}));
}

TEST_F(QtBluetoothCentralTest, NordicBridgeCarriesProbesBothWays) {
    connectAndAnswerProbes(nordicBridge);
    // A 51-byte probe arrives in 20-byte notifications and comes out whole.
    for (const QByteArray& frame : frames) {
        EXPECT_TRUE(ProtocolWire::validateFrameDetailed(frame)) << frame.toHex().toStdString();
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u'\n').toStdString();
    service->disconnect();
    EXPECT_EQ(service->statusText(), "未连接");
    EXPECT_FALSE(service->isConnected());
}

TEST_F(QtBluetoothCentralTest, Fff0BridgeCarriesProbesAndReportsTheReasonOfADrop) {
    connectAndAnswerProbes(fff0Bridge);
    standin->command(QStringLiteral("drop ") + fff0Bridge + QStringLiteral(" authentication"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->isConnected(); }, waitMs));
    EXPECT_EQ(service->statusText(), "对端已删除配对信息，请在系统蓝牙中忽略该设备后重新配对");
    EXPECT_TRUE(service->connectedDeviceID().isEmpty());
}

TEST_F(QtBluetoothCentralTest, SwitchingOffAndUnpluggingTheAdapterAreFollowed) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->isScanning(); }, waitMs));
    standin->command(QStringLiteral("power off"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->isScanning(); }, waitMs));
    EXPECT_EQ(service->statusText(), "蓝牙已关闭，请在系统设置中开启");
    standin->command(QStringLiteral("power on"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->isScanning(); }, waitMs));
    EXPECT_EQ(service->statusText(), "正在扫描 BLE 设备…");

    // An adapter unplugged and plugged again.
    standin->command(QStringLiteral("adapter remove"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->authorizationStatusText() == "不支持蓝牙"; },
                                waitMs));
    EXPECT_EQ(service->statusText(), "当前设备不支持蓝牙，或运行在虚拟机等无蓝牙环境");
    standin->command(QStringLiteral("adapter add"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return service->authorizationStatusText() == "已授权"; }, waitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->devices().size() == 3; }, waitMs));
}

TEST_F(QtBluetoothCentralTest, AnAddressThatIsNoneIsRefused) {
    service->connect(QStringLiteral("6E400001-B5A3-F393-E0A9-E50E24DCCA9E"), {});
    EXPECT_EQ(service->statusText(), "设备 ID 无效");
}

// Qt's errorString() is English on every desktop; the status line is not.
TEST(BleControllerErrorTextTest, EveryControllerErrorIsToldInChinese) {
    const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    for (const auto error :
         {QLowEnergyController::UnknownError, QLowEnergyController::UnknownRemoteDeviceError,
          QLowEnergyController::NetworkError, QLowEnergyController::InvalidBluetoothAdapterError,
          QLowEnergyController::ConnectionError, QLowEnergyController::AdvertisingError,
          QLowEnergyController::RemoteHostClosedError, QLowEnergyController::AuthorizationError,
          QLowEnergyController::MissingPermissionsError}) {
        const QString text = bleControllerErrorText(error);
        EXPECT_FALSE(text.isEmpty() || text.contains(latin)) << int(error) << text.toStdString();
    }
    EXPECT_NE(bleControllerErrorText(QLowEnergyController::UnknownRemoteDeviceError),
              bleControllerErrorText(QLowEnergyController::ConnectionError));
}
