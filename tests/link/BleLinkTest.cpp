#include "link/BleLink.h"

#include "bluetooth/BLEUUIDs.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "storage/DataDirectoryFiles.h"
#include "support/ScriptedBluetoothCentral.h"

#include <QTest>

#include <gtest/gtest.h>

namespace orvane {
namespace {

const QString bridge = QStringLiteral("AA:BB:CC:DD:EE:FF");
const QString nordicService = BLEUUIDs::canonical(BluetoothService::nordicServiceUUID);
const QString nordicRX = BLEUUIDs::canonical(BluetoothService::nordicRXCharacteristicUUID);
const QString nordicTX = BLEUUIDs::canonical(BluetoothService::nordicTXCharacteristicUUID);

QByteArray probe(quint32 sn) {
    return ProtocolWire::buildPacket(FrameChannel::peripheral, FrameType::PERIPHERAL_ECHO, sn,
                                     QByteArray::fromHex("0102aabb"));
}

class BleLinkTest : public ::testing::Test {
protected:
    BleLinkTest() {
        auto owned = std::make_unique<ScriptedBluetoothCentral>();
        central_ = owned.get();
        central_->writeLength = 512;
        bluetooth_ =
            std::make_unique<BluetoothService>(std::move(owned), BluetoothService::Callbacks{});
        auto trans = std::make_shared<TransHandler>(
            [](const QString&) {}, [](const QString&) {},
            [](const ClipboardEntry&) -> Status<QString> { return Done{}; },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        router_ = std::make_unique<LinkFrameRouter>(
            std::make_shared<SerialProtocolRouter>(
                trans, std::make_shared<PeripheralHandler>([](const QString&) {})),
            [this](LinkKind source) { echoes_.append(source); });
        BleLink::Journal journal;
        journal.log = [this](const QString& direction, const QString& summary, const QStringList&) {
            lines_.append(direction + ' ' + summary);
        };
        link_ = std::make_unique<BleLink>(*bluetooth_, *router_, std::move(journal));
    }

    ~BleLinkTest() override {
        link_.reset();
        router_.reset();
    }

    void connectBridge() {
        bluetooth_->didDiscover({bridge, QStringLiteral("ZE DOZ ERA"), {}, -50, {}});
        link_->connectDevice(bridge);
        bluetooth_->didConnect(bridge, QStringLiteral("ZE DOZ ERA"));
        bluetooth_->didDiscoverServices(bridge, {nordicService});
        bluetooth_->didDiscoverCharacteristics(bridge, nordicService, {nordicRX, nordicTX});
    }

    QByteArray written() const {
        QByteArray bytes;
        for (const auto& [characteristic, data] : central_->writes) {
            bytes += data;
        }
        return bytes;
    }

    ScriptedBluetoothCentral* central_ = nullptr;
    std::unique_ptr<BluetoothService> bluetooth_;
    std::unique_ptr<LinkFrameRouter> router_;
    std::unique_ptr<BleLink> link_;
    QList<LinkKind> echoes_; // written on the protocol queue, read after a flush
    QStringList lines_;
};

TEST_F(BleLinkTest, AFrameFromTheBridgeIsHandledAsTheBleLinksAndAnsweredOverIt) {
    link_->hold(bridge, QStringLiteral("ZE DOZ ERA"));
    connectBridge();
    EXPECT_FALSE(link_->state().isLive());

    const QByteArray echo = probe(77);
    bluetooth_->didUpdateValue(bridge, {nordicService, nordicTX}, echo);
    EXPECT_TRUE(link_->state().isLive());
    EXPECT_TRUE(link_->isConnected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return written() == echo; }, 5000));
    router_->flush();
    EXPECT_EQ(echoes_, QList<LinkKind>{LinkKind::bluetooth});
    const QString summary = QStringLiteral("sn=77 · %1 B").arg(echo.size());
    // The answer, sent with a label, is logged once.
    EXPECT_EQ(lines_, QStringList({"BT RX " + summary, "BT TX " + summary}));
}

TEST_F(BleLinkTest, SendsNeedTheLinkConnected) {
    const QByteArray frame = probe(5);
    auto refused = link_->sendAndWait(frame, QStringLiteral("TRANS"));
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().isSerialClosed());
    link_->send(frame, std::nullopt, {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lines_.isEmpty(); }, 5000));
    EXPECT_EQ(lines_, QStringList{"WRN 串口写入失败: 串口未连接"});

    connectBridge();
    link_->setConnected(true);
    std::optional<Link::SendResult> outcome;
    link_->send(frame, QStringLiteral("TRANS"), [&](Link::SendResult result) { outcome = result; });
    ASSERT_TRUE(outcome && *outcome);
    ASSERT_TRUE(QTest::qWaitFor([&] { return written() == frame; }, 5000));
}

} // namespace
} // namespace orvane
