#include "trans/SerialProtocolRouter.h"

#include "TransTestFrames.h"
#include "storage/DataDirectoryFiles.h"
#include "storage/TemporaryDataHome.h"
#include "trans/TransPayload.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace transframes;
namespace FT = orvane::FrameType;

namespace {

QByteArray echoFrame(quint8 channel, quint32 sn, const QByteArray& payload) {
    return ProtocolWire::buildPacket(channel, FT::PERIPHERAL_ECHO, sn, payload);
}

const QByteArray kTlv = QByteArray::fromHex("14000400000061626300");

class SerialProtocolRouterTest : public TemporaryDataHome {
protected:
    void SetUp() override {
        TemporaryDataHome::SetUp();
        receiver_ = std::make_shared<TransHandler>(
            [this](const QString& line) { receiverLines_.append(line); },
            [this](const QString& line) { receiverLines_.append(line); },
            [this](const ClipboardEntry& entry) -> Status<QString> {
                received_.append(entry);
                return Done{};
            },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        peripheral_ = std::make_shared<PeripheralHandler>(
            [this](const QString& line) { echoLines_.append(line); }, [this] { ++echoes_; });
        sender_ = std::make_shared<TransSender>(
            nullptr, TransSenderTimings{std::chrono::milliseconds(0), std::chrono::seconds(5)});
        router_ = std::make_unique<SerialProtocolRouter>(receiver_, peripheral_, sender_);
    }

    std::shared_ptr<TransHandler> receiver_;
    std::shared_ptr<PeripheralHandler> peripheral_;
    std::shared_ptr<TransSender> sender_;
    std::unique_ptr<SerialProtocolRouter> router_;
    QStringList receiverLines_;
    QStringList echoLines_;
    QList<ClipboardEntry> received_;
    int echoes_ = 0;
};

TEST_F(SerialProtocolRouterTest, EchoOnThePeripheralChannelComesBackUnchanged) {
    const QByteArray probe = echoFrame(FrameChannel::peripheral, 11, kTlv);
    EXPECT_EQ(router_->handle(probe), QList{probe});
    // Bytes after the frame are not part of the echo.
    EXPECT_EQ(router_->handle(probe + "\x57\xAB"), QList{probe});
    // A malformed TLV is echoed too.
    const QByteArray odd = echoFrame(FrameChannel::peripheral, 12, "??");
    EXPECT_EQ(router_->handle(odd), QList{odd});
    EXPECT_EQ(echoes_, 3);
    ASSERT_EQ(echoLines_.size(), 3);
    EXPECT_EQ(echoLines_[0],
              "PERIPHERAL ECHO sn=11 tlv.type=0x0014 value=\"abc\" hex=[61 62 63 00]");
    EXPECT_TRUE(receiverLines_.isEmpty());
}

TEST_F(SerialProtocolRouterTest, FramesNobodyAnswersYieldNoReplies) {
    EXPECT_TRUE(
        router_
            ->handle(ProtocolWire::buildPacket(FrameChannel::peripheral, FT::DEVICE_QUERY, 1, {}))
            .isEmpty());
    EXPECT_TRUE(
        router_->handle(ProtocolWire::buildPacket(0x05, FT::START_REQUEST, 1, {})).isEmpty());
    QByteArray damaged = echoFrame(FrameChannel::peripheral, 2, kTlv);
    damaged[20] = '\x7F';
    EXPECT_TRUE(router_->handle(damaged).isEmpty());
    EXPECT_TRUE(router_->handle(damaged.first(10)).isEmpty());
    EXPECT_EQ(echoes_, 0);
    EXPECT_TRUE(receiverLines_.isEmpty());
    EXPECT_TRUE(echoLines_.isEmpty());
}

TEST_F(SerialProtocolRouterTest, TransFramesGoToTheReceiverWhileNoSendRuns) {
    // An echo on the TRANS channel is not a liveness probe.
    EXPECT_EQ(router_->handle(echoFrame(FrameChannel::trans, 5, kTlv)), QList{reply(5, false)});
    EXPECT_EQ(echoes_, 0);
    EXPECT_EQ(receiverLines_.last(), "TX GENERAL_REPLY fail unsupported type sn=5");

    const QByteArray rsp = router_->handle(trans(FT::DEVICE_QUERY, 6)).value(0);
    EXPECT_EQ(ProtocolWire::parseHeader(rsp)->type, FT::DEVICE_QUERY_RSP);

    const QByteArray text = "from the device";
    EXPECT_EQ(router_->handle(firstFor(1, TransWire::dataTypeText, text)), QList{reply(1, true)});
    EXPECT_EQ(router_->handle(chunkOf(2, text, 0, text.size())), QList{reply(2, true)});
    EXPECT_EQ(router_->handle(finish(3)), QList{reply(3, true)});
    ASSERT_EQ(received_.size(), 1);
    EXPECT_EQ(received_[0].text, "from the device");
}

TEST_F(SerialProtocolRouterTest, RunningSendTakesEveryTransFrame) {
    // The device: a receiver of its own, whose replies come back through the router.
    QList<ClipboardEntry> atDevice;
    TransHandler device([](const QString&) {}, [](const QString&) {},
                        [&](const ClipboardEntry& entry) -> Status<QString> {
                            atDevice.append(entry);
                            return Done{};
                        },
                        std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
    int written = 0;
    QList<QByteArray> leaked;
    const auto writer = [&](const QByteArray& frame) -> Status<TransSender::WriteError> {
        if (written++ == 0) {
            // The device's own query during a send is the sender's, not the receiver's.
            leaked += router_->handle(trans(FT::DEVICE_QUERY, 77));
            leaked += router_->handle(echoFrame(FrameChannel::trans, 78, kTlv));
        }
        for (const QByteArray& answer : device.handleFrame(frame)) {
            leaked += router_->handle(answer);
        }
        return Done{};
    };
    const QByteArray text(25000, 'x');
    ClipboardEntry entry;
    entry.text = QString::fromLatin1(text);
    auto job = TransPayload::textJob(entry);
    ASSERT_TRUE(job.ok());
    const auto sent = sender_->send(*job, writer, [](int) {});
    EXPECT_TRUE(sent.ok());
    EXPECT_TRUE(leaked.isEmpty());
    EXPECT_TRUE(receiverLines_.isEmpty()) << receiverLines_.join('\n').toStdString();
    ASSERT_EQ(atDevice.size(), 1);
    EXPECT_EQ(atDevice[0].text.size(), 25000);

    // Once the send is over the receiver answers again; once the sender is gone as well.
    EXPECT_EQ(router_->handle(trans(FT::START_REQUEST, 8)), QList{reply(8, true)});
    sender_.reset();
    EXPECT_EQ(router_->handle(trans(FT::START_REQUEST, 9)), QList{reply(9, true)});
}

} // namespace
