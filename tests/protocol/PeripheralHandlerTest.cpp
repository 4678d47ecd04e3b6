#include "protocol/PeripheralHandler.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

#include <gtest/gtest.h>

using namespace orvane;

namespace {

struct Probe {
    QByteArray frame;
    WireHeader header;
    QByteArray payload;
};

Probe probe(quint32 sn, const QByteArray& payload) {
    const QByteArray frame = ProtocolWire::buildPacket(FrameChannel::peripheral,
                                                       FrameType::PERIPHERAL_ECHO, sn, payload);
    return {frame, *ProtocolWire::parseHeader(frame), payload};
}

TEST(PeripheralHandlerTest, EchoesTheProbeAndLogsItsValue) {
    QStringList events;
    PeripheralHandler handler([&](const QString& line) { events.append(line); },
                              [&] { events.append(QStringLiteral("echo")); });
    const Probe p = probe(42, QByteArray::fromHex("140004000000") + QByteArray("KVM\0", 4));
    EXPECT_EQ(handler.handleEcho(p.frame, p.header, p.payload), QList<QByteArray>{p.frame});
    EXPECT_EQ(events, QStringList({"echo", "PERIPHERAL ECHO sn=42 tlv.type=0x0014 value=\"KVM\" "
                                           "hex=[4B 56 4D 00]"}));
}

TEST(PeripheralHandlerTest, MalformedProbeIsStillEchoedUnchanged) {
    QStringList events;
    PeripheralHandler handler([&](const QString& line) { events.append(line); },
                              [&] { events.append(QStringLiteral("echo")); });
    const Probe p = probe(4000000000u, QByteArray::fromHex("0102"));
    EXPECT_EQ(handler.handleEcho(p.frame, p.header, p.payload), QList<QByteArray>{p.frame});
    EXPECT_EQ(events, QStringList({"echo", "PERIPHERAL ECHO sn=4000000000 tlv parse failed "
                                           "(payload too short (2 < 6)) payload=2 B hex=[01 02]"}));

    // A TLV announcing more than it holds.
    events.clear();
    const Probe q = probe(1, QByteArray::fromHex("14000500000041"));
    EXPECT_EQ(handler.handleEcho(q.frame, q.header, q.payload), QList<QByteArray>{q.frame});
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[1], "PERIPHERAL ECHO sn=1 tlv parse failed (payload=7 B != tlv wire 11 B "
                         "(length=5)) payload=7 B hex=[14 00 05 00 00 00 41]");
}

TEST(PeripheralHandlerTest, WorksWithoutAnEchoCallback) {
    QStringList lines;
    PeripheralHandler handler([&](const QString& line) { lines.append(line); });
    const Probe p = probe(0, {});
    EXPECT_EQ(handler.handleEcho(p.frame, p.header, p.payload), QList<QByteArray>{p.frame});
    EXPECT_EQ(lines, QStringList{"PERIPHERAL ECHO sn=0 tlv parse failed (payload too short (0 < "
                                 "6)) payload=0 B hex=[<empty>]"});
}

} // namespace
