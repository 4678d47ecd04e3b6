#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialDisconnectReason.h"
#include "serial/SerialFrameProcessor.h"
#include "serial/SerialPortTracking.h"
#include "serial/SerialReconnectPolicy.h"
#include "serial/SerialStatusText.h"

#include <QSet>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace Policy = SerialReconnectPolicy;
namespace Tracking = SerialPortTracking;
constexpr auto fatal = Policy::ReasonClass::fatal;
constexpr auto gone = Policy::ReasonClass::deviceGone;
constexpr auto other = Policy::ReasonClass::other;

QString statusText(const Tracking::StatusFacts& facts) {
    return SerialStatusText::status(Tracking::status(facts));
}
QString hintText(const Tracking::HintFacts& facts) {
    return SerialStatusText::hint(Tracking::connectHint(facts));
}

TEST(SerialReconnectPolicyTest, ReasonsAreClassedByErrorKindNotByText) {
    using C = SerialDisconnectReason::Class;
    EXPECT_EQ(SerialDisconnectReason::deviceRemoved().reasonClass(), C::deviceGone);
    EXPECT_EQ(SerialDisconnectReason::reEnumerated("a", "b").text(), "port re-enumerated a → b");
    EXPECT_EQ(SerialDisconnectReason::portBusy().reasonClass(), C::other);
    // Whatever the text says, in whichever language.
    EXPECT_EQ(SerialDisconnectReason::openFailure(
                  SerialPortError::openFailed("没有那个设备", SerialErrorKind::notConfigured))
                  .reasonClass(),
              C::fatal);
    EXPECT_EQ(SerialDisconnectReason::openFailure(
                  SerialPortError::openFailed("device not configured", SerialErrorKind::other))
                  .reasonClass(),
              C::other);
}

TEST(SerialReconnectPolicyTest, FatalWaitsGrowToTheCeilingAndOtherReasonsResetTheCount) {
    const SerialServiceTimings t;
    Policy::Backoff backoff;
    std::vector<std::chrono::milliseconds> waits;
    for (int i = 0; i < 8; ++i) {
        waits.push_back(Policy::scheduleDelay(backoff, fatal, t));
    }
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{3000ms, 5000ms, 7000ms, 9000ms,
                                                             11000ms, 12000ms, 12000ms, 12000ms}));
    EXPECT_EQ(backoff.consecutiveFatalCount, 6);
    EXPECT_EQ(Policy::maxOpenAttempts(backoff), 2);
    EXPECT_EQ(Policy::preOpenSleep(backoff, t), 2000ms);

    EXPECT_EQ(Policy::scheduleDelay(backoff, gone, t), 500ms);
    EXPECT_EQ(backoff.consecutiveFatalCount, 0);
    Policy::scheduleDelay(backoff, fatal, t);
    EXPECT_EQ(Policy::scheduleDelay(backoff, other, t), 2000ms);
    EXPECT_EQ(backoff.consecutiveFatalCount, 0);
    EXPECT_EQ(Policy::maxOpenAttempts(backoff), 3);
    EXPECT_EQ(Policy::preOpenSleep(backoff, t), 1000ms);
}

TEST(SerialReconnectPolicyTest, QuickDeathsLengthenWaitsAndLongSessionsForgiveThem) {
    const SerialServiceTimings t;
    Policy::Backoff backoff;
    Policy::noteSessionEnded(backoff, 4999ms, fatal, t);
    Policy::noteSessionEnded(backoff, 1000ms, gone, t); // not fatal: no change
    EXPECT_EQ(backoff.quickDeathCount, 1);
    Policy::noteSessionEnded(backoff, 100ms, fatal, t);
    EXPECT_EQ(backoff.quickDeathCount, 2);
    // min(3 + 0 + 3*2, 12 + 2*2) = 9 s, then the ceiling 16 s is reached.
    EXPECT_EQ(Policy::scheduleDelay(backoff, fatal, t), 9000ms);
    for (int i = 0; i < 5; ++i) {
        Policy::scheduleDelay(backoff, fatal, t);
    }
    EXPECT_EQ(Policy::scheduleDelay(backoff, fatal, t), 16000ms);
    EXPECT_EQ(Policy::preOpenSleep(backoff, t), 3000ms); // (2 + 2 + 2) × 0.5 s
    // Settle: 5 s after a fatal end, 0.5 s otherwise, plus 1 s per quick death (at most 4).
    EXPECT_EQ(Policy::settleDelay(backoff, fatal, t), 7000ms);
    EXPECT_EQ(Policy::settleDelay(backoff, other, t), 2500ms);
    for (int i = 0; i < 10; ++i) {
        Policy::noteSessionEnded(backoff, 1ms, fatal, t);
    }
    EXPECT_EQ(backoff.quickDeathCount, 6);
    EXPECT_EQ(Policy::settleDelay(backoff, other, t), 4500ms);
    Policy::noteSessionEnded(backoff, 19999ms, fatal, t); // neither quick nor stable
    EXPECT_EQ(backoff.quickDeathCount, 6);
    Policy::noteSessionEnded(backoff, 20000ms, fatal, t);
    EXPECT_EQ(backoff.quickDeathCount, 5);
}

TEST(SerialPortTrackingTest, StatusTextTakesTheFirstRuleThatApplies) {
    Tracking::StatusFacts f;
    EXPECT_EQ(statusText(f), "closed");
    f.selectedPath = "/dev/ttyACM0";
    EXPECT_EQ(statusText(f), "closed · 设备未找到");
    f.pathExists = true;
    EXPECT_EQ(statusText(f), "connecting · /dev/ttyACM0");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::connecting);
    f.coolingSeconds = 3;
    EXPECT_EQ(statusText(f), "reconnecting · 3s · /dev/ttyACM0");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::reconnecting);
    f.missing = true;
    EXPECT_EQ(statusText(f), "closed · 设备未找到 · /dev/ttyACM0");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::closed);
    f.reconnecting = true;
    EXPECT_EQ(statusText(f), "/dev/ttyACM0 · 恢复连接…");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::closed);
    f.connectHint = SerialHint::waitingForReenumeration("/dev/ttyACM0");
    EXPECT_EQ(statusText(f), "等待 /dev/ttyACM0 重新枚举…");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::closed);
    f.live = true;
    f.portLabel = "KVM Link";
    f.baudRate = 230400;
    EXPECT_EQ(statusText(f), "KVM Link · 230400 bps · open");
    EXPECT_EQ(Tracking::status(f).phase, SerialStatusPhase::live);
    // Closed by choice: nothing is attempted, so neither hints nor waits are shown.
    f.live = false;
    f.userWantsConnection = false;
    EXPECT_EQ(statusText(f), "closed · /dev/ttyACM0");
    f.otherLinkChosen = true;
    EXPECT_EQ(statusText(f), "closed · 使用蓝牙");

    EXPECT_EQ(Tracking::wholeSecondsAtLeastOne(0), 1);
    EXPECT_EQ(Tracking::wholeSecondsAtLeastOne(2999), 2);
    EXPECT_EQ(SerialStatusText::status(Tracking::closedStatus("", false)), "closed");
    EXPECT_EQ(SerialStatusText::status(Tracking::closedStatus("/dev/x", true)), "closed · /dev/x");
    EXPECT_EQ(SerialStatusText::status(Tracking::closedStatus("/dev/x", false)),
              "closed · 设备未找到");
}

TEST(SerialPortTrackingTest, ConnectHints) {
    using R = Tracking::OpenRefusal;
    EXPECT_EQ(hintText({"", false, R::none, {}}), "请在设置中选择串口");
    EXPECT_EQ(hintText({"/dev/a", true, R::none, {}}), "");
    EXPECT_EQ(hintText({"/dev/a", false, R::missing, {}}), "等待 /dev/a 重新枚举…");
    EXPECT_EQ(hintText({"/dev/a", false, R::permission, {}}),
              "无权限打开 /dev/a（请将当前用户加入 dialout 组后重新登录）");
    EXPECT_EQ(hintText({"/dev/a", false, R::other, QString("minicom")}), "minicom 占用 /dev/a");
    EXPECT_EQ(hintText({"/dev/a", false, R::other, {}}), "无法打开 /dev/a");
}

TEST(SerialPortTrackingTest, AnAbsentSelectionStaysFirstInTheOfferedList) {
    const QList<SerialPortInfo> ports{SerialPortInfo::make("/dev/ttyACM1", "KVM")};
    const auto offered = Tracking::offeredPorts(ports, "/dev/ttyACM0");
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(offered[0], SerialPortInfo::make("/dev/ttyACM0", "/dev/ttyACM0"));
    EXPECT_EQ(Tracking::offeredPorts(ports, "/dev/ttyACM1"), ports);
    EXPECT_EQ(Tracking::offeredPorts(ports, ""), ports);
}

TEST(SerialPortTrackingTest, MigratesOnlyToTheSingleFreePortWithTheSameLabel) {
    QSet<QString> existing{"/dev/ttyACM1", "/dev/ttyACM2", "/dev/ttyUSB0"};
    QSet<QString> busy;
    QMap<QString, QString> registry;
    const Tracking::CandidateChecks checks{[&](const QString& p) { return existing.contains(p); },
                                           [&](const QString& p) { return !busy.contains(p); },
                                           [&](const QString& p) -> std::optional<QString> {
                                               if (registry.contains(p)) {
                                                   return registry.value(p);
                                               }
                                               return std::nullopt;
                                           }};
    QList<SerialPortInfo> list{SerialPortInfo::make("/dev/ttyACM0", "KVM"),
                               SerialPortInfo::make("/dev/ttyACM1", "KVM"),
                               SerialPortInfo::make("/dev/ttyUSB0", "FTDI")};
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), "/dev/ttyACM1");

    busy.insert("/dev/ttyACM1");
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), std::nullopt);
    busy.clear();

    // Two identical free adapters: no guessing.
    list.append(SerialPortInfo::make("/dev/ttyACM2", "KVM"));
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), std::nullopt);
    existing.remove("/dev/ttyACM2");
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), "/dev/ttyACM1");

    // The old path is no longer listed: its label comes from the registry, if anywhere.
    list.removeFirst();
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), std::nullopt);
    registry.insert("/dev/ttyACM0", "KVM");
    EXPECT_EQ(Tracking::pickRenumberedPort(list, "/dev/ttyACM0", checks), "/dev/ttyACM1");

    // A port labelled with its own path says nothing about which device it is.
    const QList<SerialPortInfo> unnamed{SerialPortInfo::make("/dev/ttyACM0", "/dev/ttyACM0"),
                                        SerialPortInfo::make("/dev/ttyACM1", "/dev/ttyACM0")};
    EXPECT_EQ(Tracking::pickRenumberedPort(unnamed, "/dev/ttyACM0", checks), std::nullopt);
}

QByteArray transFrame(quint16 type, quint32 sn, qsizetype payloadSize = 4) {
    return ProtocolWire::buildPacket(FrameChannel::trans, type, sn, QByteArray(payloadSize, 'x'));
}

TEST(SerialFrameProcessorTest, CountsMiddlePacketsAndLogsEverythingElse) {
    QList<QByteArray> frames{transFrame(FrameType::FIRST_PACKET, 1)};
    for (quint32 sn = 2; sn < 12; ++sn) {
        frames.append(transFrame(FrameType::MIDDLE_PACKET, sn));
    }
    frames.append(transFrame(FrameType::FINISH_PACKET, 12));
    QList<QByteArray> written;
    int firstPackets = 0;
    const auto result = SerialFrameProcessor::processFrames(
        frames,
        [](const QByteArray& frame) {
            const auto header = ProtocolWire::parseHeader(frame);
            return QList<QByteArray>{ProtocolWire::buildPacket(
                FrameChannel::trans, FrameType::GENERAL_REPLY, header->sn, QByteArray(1, 0))};
        },
        [&](const QByteArray& reply) { written.append(reply); }, [&] { ++firstPackets; });

    EXPECT_EQ(written.size(), 12); // every frame answered, MIDDLEs included
    EXPECT_EQ(firstPackets, 1);
    EXPECT_TRUE(result.sawFirstPacket);
    EXPECT_TRUE(result.sawFinish);
    EXPECT_EQ(result.middleCount, 10);
    EXPECT_TRUE(result.significant);
    QStringList lines;
    for (const auto& entry : result.logEntries) {
        lines.append(entry.direction + " " + entry.summary);
    }
    EXPECT_EQ(lines, QStringList({"TX sn=1 · 22 B", "RX sn=1 · 25 B", "TX sn=12 · 22 B",
                                  "RX sn=12 · 25 B"}));
}

TEST(SerialFrameProcessorTest, AMiddleOnlyBatchIsNotSignificantAndJunkIsLoggedWithSnZero) {
    const auto middles = SerialFrameProcessor::processFrames(
        {transFrame(FrameType::MIDDLE_PACKET, 5)}, {}, [](const QByteArray&) {}, {});
    EXPECT_FALSE(middles.significant);
    EXPECT_TRUE(middles.logEntries.isEmpty());

    const auto empty = SerialFrameProcessor::processFrames({}, {}, [](const QByteArray&) {}, {});
    EXPECT_TRUE(empty.significant);

    const QByteArray junk("\x01\x02\x03", 3);
    const auto junkResult = SerialFrameProcessor::processFrames(
        {junk}, [](const QByteArray&) { return QList<QByteArray>{QByteArray("ok")}; },
        [](const QByteArray&) {}, {});
    ASSERT_EQ(junkResult.logEntries.size(), 2);
    EXPECT_EQ(junkResult.logEntries[1].summary, "sn=0 · 3 B");
    EXPECT_EQ(junkResult.logEntries[1].hexRows.size(), 1);
    EXPECT_FALSE(junkResult.sawFirstPacket);
}

} // namespace
} // namespace orvane
