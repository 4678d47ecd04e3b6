#include "link/LinkFrameRouter.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "storage/DataDirectoryFiles.h"

#include <QTest>

#include <gtest/gtest.h>
#include <mutex>

namespace orvane {
namespace {

QByteArray probe(quint32 sn) {
    return ProtocolWire::buildPacket(FrameChannel::peripheral, FrameType::PERIPHERAL_ECHO, sn,
                                     QByteArray::fromHex("0102aabb"));
}

// A link that keeps what it is asked to send.
class RecordingLink final : public Link {
public:
    explicit RecordingLink(LinkKind kind)
        : kind_(kind) {}

    LinkKind kind() const override { return kind_; }
    void send(QByteArray frame, std::optional<QString> label, SendCompletion) override {
        std::lock_guard guard(lock_);
        sent_.append(ProtocolWire::parseHeader(frame)->sn);
        labels_.append(label.value_or(QString()));
    }
    SendResult sendAndWait(QByteArray frame, std::optional<QString> label) override {
        send(std::move(frame), std::move(label), {});
        return Done{};
    }
    LinkState state() const override { return {LinkPhase::live}; }

    QList<quint32> sent() const {
        std::lock_guard guard(lock_);
        return sent_;
    }
    QStringList labels() const {
        std::lock_guard guard(lock_);
        return labels_;
    }

private:
    const LinkKind kind_;
    mutable std::mutex lock_;
    QList<quint32> sent_;
    QStringList labels_;
};

TEST(LinkFrameRouterTest, FramesOfBothLinksAreHandledInTurnAndAnsweredOnTheirOwnLink) {
    auto trans = std::make_shared<TransHandler>(
        [](const QString&) {}, [](const QString&) {},
        [](const ClipboardEntry&) -> Status<QString> { return Done{}; },
        std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
    auto peripheral = std::make_shared<PeripheralHandler>([](const QString&) {});
    std::mutex lock;
    QList<std::pair<LinkKind, bool>> echoes; // the source, and whether on the queue
    LinkFrameRouter* routerSeen = nullptr;
    LinkFrameRouter router(std::make_shared<SerialProtocolRouter>(trans, peripheral),
                           [&](LinkKind source) {
                               std::lock_guard guard(lock);
                               echoes.append({source, routerSeen->queue()->isCurrentThread()});
                           });
    routerSeen = &router;
    RecordingLink serial(LinkKind::serial);
    RecordingLink ble(LinkKind::bluetooth);

    QList<quint32> overSerial;
    QList<quint32> overBle;
    for (quint32 sn = 1; sn <= 20; ++sn) {
        const bool toBle = sn % 3 == 0;
        router.receive(toBle ? static_cast<Link&>(ble) : serial, probe(sn),
                       toBle ? std::optional<QString>(QStringLiteral("BT TX")) : std::nullopt);
        (toBle ? overBle : overSerial).append(sn);
    }
    router.flush();

    EXPECT_EQ(serial.sent(), overSerial);
    EXPECT_EQ(ble.sent(), overBle);
    EXPECT_EQ(ble.labels(), QStringList(overBle.size(), QStringLiteral("BT TX")));
    ASSERT_EQ(echoes.size(), 20);
    for (qsizetype i = 0; i < echoes.size(); ++i) {
        const quint32 sn = quint32(i + 1);
        EXPECT_EQ(echoes[i].first, sn % 3 == 0 ? LinkKind::bluetooth : LinkKind::serial) << sn;
        EXPECT_TRUE(echoes[i].second) << sn;
    }
}

} // namespace
} // namespace orvane
