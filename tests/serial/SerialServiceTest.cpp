#include "serial/SerialService.h"

#include "PseudoTerminalPort.h"
#include "common/SystemErrorText.h"
#include "platform/linux/InotifyDeviceWatch.h"
#include "platform/linux/InotifyPortOpenWatch.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "protocol/FrameType.h"
#include "protocol/PeripheralHandler.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialDiagnostics.h"
#include "storage/DataDirectoryFiles.h"
#include "support/TranslatedLocale.h"
#include "trans/SerialProtocolRouter.h"
#include "trans/TransHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>

namespace orvane {
namespace {

using namespace std::chrono_literals;

constexpr int waitMs = 5000;

QByteArray probe(quint32 sn) {
    return ProtocolWire::buildPacket(FrameChannel::peripheral, FrameType::PERIPHERAL_ECHO, sn,
                                     QByteArray::fromHex("0102aabb"));
}

QByteArray transFrame(quint16 type, quint32 sn) {
    return ProtocolWire::buildPacket(FrameChannel::trans, type, sn, QByteArray(4, 'x'));
}

QString ownCommandName() {
    QFile comm("/proc/self/comm");
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

class SerialServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(logDir_.isValid() && sysfs_.isValid());
        SerialDiagnostics::setLogDirectory(logDir_.path());
        ASSERT_TRUE(port_.plug());
        trans_ = std::make_shared<TransHandler>(
            [](const QString&) {}, [](const QString&) {},
            [](const ClipboardEntry&) -> Status<QString> { return Done{}; },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        peripheral_ = std::make_shared<PeripheralHandler>([](const QString&) {},
                                                          [this] {
                                                              ++echoes_;
                                                              if (SerialService* service =
                                                                      echoTarget_.load()) {
                                                                  service->noteEchoReceived();
                                                              }
                                                          });
        router_ = std::make_unique<SerialProtocolRouter>(trans_, peripheral_);
    }

    void TearDown() override {
        // The protocol queue may be inside the echo callback right now: it must not read
        // service_ while the reset writes it.
        echoTarget_ = nullptr;
        service_.reset();
        SerialDiagnostics::flush();
        SerialDiagnostics::setLogDirectory(QString());
    }

    static SerialServiceTimings fastTimings() {
        SerialServiceTimings t = SerialServiceTimings().scaled(0.05);
        return t;
    }

    void create(SerialServiceTimings timings = fastTimings()) {
        LinuxSerialDeviceSource::Config config;
        config.directories = {{QFileInfo(port_.path()).absolutePath(), {"ttyACM*"}}};
        config.sysfsRoot = sysfs_.path();
        auto source = std::make_shared<LinuxSerialDeviceSource>(config);
        SerialService::Platform platform;
        platform.devices = source;
        platform.watch = std::make_unique<InotifyDeviceWatch>(source->watchedDirectories());
        platform.openWatch = [] {
            return std::make_unique<InotifyPortOpenWatch>();
        };
        platform.openSession = [](const QString& path, qint64 baud) {
            SerialPortSession::Timing timing;
            timing.openAttempts = 3;
            timing.openRetryDelay = 10ms;
            timing.initialReopenBackoffUs = 20000;
            timing.maxReopenBackoffUs = 100000;
            timing.reopenPause = 5ms;
            return std::make_unique<SerialPortSession>(path, baud,
                                                       std::make_unique<PosixSerialPortIO>(),
                                                       SerialPortSession::diagnosticsLog(), timing);
        };
        service_ = std::make_unique<SerialService>(std::move(platform), timings);
        echoTarget_ = service_.get();
        service_->setFrameHandler(
            [router = router_.get()](const QByteArray& frame) { return router->handle(frame); });
    }

    void start(SerialServiceTimings timings = fastTimings()) {
        create(timings);
        service_->setSelectedPath(port_.path());
        service_->activate();
    }

    bool waitConnected(bool connected = true) {
        return QTest::qWaitFor([&] { return service_->isConnected() == connected; }, waitMs);
    }

    QStringList logLines() const {
        QStringList lines;
        for (const auto& entry : service_->logStore().entries()) {
            lines.append(entry.direction + " " + entry.summary);
        }
        return lines;
    }
    bool waitForLog(const QString& part) {
        const bool found =
            QTest::qWaitFor([&] { return !logLines().filter(part).isEmpty(); }, waitMs);
        if (!found) {
            ADD_FAILURE() << "not in the log: " << part.toStdString() << "\n"
                          << logLines().join('\n').toStdString();
        }
        return found;
    }
    qsizetype countLog(const QString& part) const { return logLines().filter(part).size(); }

    void checkBusyPortHandling(const QString& busyText);

    // <sysfs>/class/tty/<name>/device one level below the USB device that names the
    // product, the way the ACM driver lays it out.
    void addSysfsTty(const QString& name, const QByteArray& product) {
        const QString usb = sysfs_.path() + "/devices/usb1/1-1";
        const QString device = usb + "/1-1:1.0";
        ASSERT_TRUE(QDir().mkpath(device + "/tty/" + name));
        ASSERT_TRUE(QDir().mkpath(sysfs_.path() + "/class/tty/" + name));
        for (const auto& [file, text] : {std::pair{"/idVendor", QByteArray("1a86\n")},
                                         std::pair{"/product", product + '\n'}}) {
            QFile out(usb + file);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
        }
        ASSERT_TRUE(QFile::link(device, sysfs_.path() + "/class/tty/" + name + "/device"));
    }
    void removeSysfsTty(const QString& name) {
        ASSERT_TRUE(QDir(sysfs_.path() + "/class/tty/" + name).removeRecursively());
    }

    // Sends a probe from the device and returns what came back.
    QByteArray roundTrip(const QByteArray& frame, qsizetype replySize) {
        if (!port_.writeFromDevice(frame)) {
            return {};
        }
        return port_.readOnDevice(replySize, 3000ms);
    }

    QTemporaryDir logDir_;
    QTemporaryDir sysfs_;
    testing::PseudoTerminalPort port_{QStringLiteral("ttyACM0")};
    std::shared_ptr<TransHandler> trans_;
    std::shared_ptr<PeripheralHandler> peripheral_;
    std::unique_ptr<SerialProtocolRouter> router_;
    std::atomic<int> echoes_{0};
    std::unique_ptr<SerialService> service_;
    std::atomic<SerialService*> echoTarget_{nullptr}; // what the echo callback notifies
};

TEST_F(SerialServiceTest, ConnectsAnswersProbesAndIdentityQueries) {
    start();
    ASSERT_TRUE(waitConnected());
    EXPECT_TRUE(service_->isPortOpen());
    EXPECT_TRUE(service_->userWantsConnection());
    EXPECT_TRUE(service_->connectHint().isEmpty());
    EXPECT_TRUE(
        QRegularExpression("^" + QRegularExpression::escape(port_.path()) + " · \\d+ bps · open$")
            .match(service_->statusText())
            .hasMatch())
        << service_->statusText().toStdString();
    ASSERT_FALSE(service_->ports().isEmpty());
    EXPECT_EQ(service_->ports().first().path, port_.path());

    const QByteArray echo = probe(42);
    EXPECT_EQ(roundTrip(echo, echo.size()), echo);
    EXPECT_EQ(echoes_, 1);

    const QByteArray answer = roundTrip(transFrame(FrameType::DEVICE_QUERY, 43), 27);
    const auto header = ProtocolWire::parseHeader(answer);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->type, FrameType::DEVICE_QUERY_RSP);
    EXPECT_EQ(header->sn, 43u);

    EXPECT_TRUE(waitForLog("SYS 端口已打开 " + port_.path()));
    EXPECT_TRUE(waitForLog("RX sn=43 · 25 B"));
    EXPECT_TRUE(waitForLog("TX sn=42 · " + QString::number(echo.size()) + " B"));
    EXPECT_GT(service_->rxByteCount(), 0u);
}

TEST_F(SerialServiceTest, FollowsTheDeviceThroughUnplugAndReplugWhileIdle) {
    start();
    ASSERT_TRUE(waitConnected());
    port_.unplug();
    ASSERT_TRUE(waitConnected(false));
    EXPECT_TRUE(waitForLog("串口断开 " + port_.path() + " · device removed"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return service_->connectHint() == "等待 " + port_.path() + " 重新枚举…"; }, waitMs));
    EXPECT_FALSE(service_->statusText().endsWith("open"));
    // The unplugged selection stays on offer.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !service_->ports().isEmpty() &&
                   service_->ports().first() == SerialPortInfo::make(port_.path(), port_.path());
        },
        waitMs));

    ASSERT_TRUE(port_.plug());
    ASSERT_TRUE(waitConnected());
    EXPECT_TRUE(service_->connectHint().isEmpty());
    const QByteArray echo = probe(7);
    EXPECT_EQ(roundTrip(echo, echo.size()), echo);
}

TEST_F(SerialServiceTest, FollowsADeviceThatComesBackUnderAnotherName) {
    addSysfsTty("ttyACM0", "Halvex KVM");
    create();
    QStringList migrations; // reported on the main thread
    service_->setOnPortAutoMigrated([&](const QString& path) { migrations.append(path); });
    service_->setSelectedPath(port_.path());
    service_->activate();
    ASSERT_TRUE(waitConnected());
    const QString oldPath = port_.path();

    // The device drops off the bus and enumerates again as the next node; its old node and
    // sysfs entry are gone by then.
    testing::PseudoTerminalPort renumbered("ttyACM1", QFileInfo(oldPath).absolutePath());
    port_.unplug();
    removeSysfsTty("ttyACM0");
    addSysfsTty("ttyACM1", "Halvex KVM");
    ASSERT_TRUE(renumbered.plug());

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return service_->selectedPath() == renumbered.path(); }, waitMs))
        << service_->selectedPath().toStdString() << "\n"
        << logLines().join('\n').toStdString();
    EXPECT_EQ(migrations, QStringList{renumbered.path()});
    EXPECT_TRUE(waitForLog("SYS 串口重枚举 " + oldPath + " → " + renumbered.path()));
    ASSERT_TRUE(waitConnected());
    const QByteArray echo = probe(9);
    ASSERT_TRUE(renumbered.writeFromDevice(echo));
    EXPECT_EQ(renumbered.readOnDevice(echo.size(), 3000ms), echo);
}

// A port held by another program: the attempts, the hint naming it, and the connection
// once it lets go. `busyText` is the system's text for the refusal in the current locale.
void SerialServiceTest::checkBusyPortHandling(const QString& busyText) {
    const int holder = ::open(QFile::encodeName(port_.path()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    start();
    const QString hint = ownCommandName() + " 占用 " + port_.path();
    ASSERT_TRUE(QTest::qWaitFor([&] { return service_->connectHint() == hint; }, waitMs))
        << service_->connectHint().toStdString();
    EXPECT_TRUE(waitForLog("ERR open retry 1 after busy: 打开失败: " + busyText));
    EXPECT_TRUE(waitForLog("ERR open retry 2 after busy: 打开失败: " + busyText));
    EXPECT_TRUE(waitForLog("ERR port busy: " + hint));
    EXPECT_TRUE(waitForLog("SYS 连接失败 " + port_.path() + ": 打开失败: " + busyText + " · " +
                           hint + " · 将自动重试"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return service_->statusText() == hint; }, waitMs));
    EXPECT_FALSE(service_->isConnected());

    ::close(holder);
    ASSERT_TRUE(waitConnected());
    EXPECT_TRUE(service_->connectHint().isEmpty());
}

TEST_F(SerialServiceTest, NamesTheProgramHoldingABusyPortAndConnectsOnceItIsFree) {
    checkBusyPortHandling("Device or resource busy");
}

TEST_F(SerialServiceTest, ABusyPortIsHandledAlikeUnderATranslatedLocale) {
    orvane::testing::TranslatedLocale chinese;
    if (!chinese.available()) {
        GTEST_SKIP() << chinese.skipReason();
    }
    const QString busyText = systemErrorText(EBUSY);
    ASSERT_NE(busyText, "Device or resource busy");
    checkBusyPortHandling(busyText);
}

TEST_F(SerialServiceTest, NamesAProgramThatOpenedTheConnectedPortWithoutALock) {
    start();
    ASSERT_TRUE(waitConnected());
    const QString hint = "sleep 也打开了 " + port_.path() + "，可能会丢失数据";

    QProcess reader;
    reader.setStandardInputFile(port_.path());
    reader.start("sleep", {"60"});
    ASSERT_TRUE(reader.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return service_->connectHint() == hint; }, waitMs))
        << service_->connectHint().toStdString();
    EXPECT_TRUE(waitForLog("WRN " + hint));
    QTest::qWait(300); // several health checks: still one warning, still connected
    EXPECT_EQ(countLog("WRN " + hint), 1);
    EXPECT_TRUE(service_->isConnected());
    const QByteArray echo = probe(5);
    EXPECT_EQ(roundTrip(echo, echo.size()), echo);

    reader.kill();
    reader.waitForFinished();
    EXPECT_TRUE(QTest::qWaitFor([&] { return service_->connectHint().isEmpty(); }, waitMs));
    EXPECT_TRUE(service_->isConnected());
}

TEST_F(SerialServiceTest, ASilentDeviceIsReopenedAfterTheEchoTimeout) {
    start();
    ASSERT_TRUE(waitConnected());
    // Probes keep the link: no time-out while they arrive.
    for (quint32 sn = 1; sn <= 12; ++sn) {
        const QByteArray echo = probe(sn);
        ASSERT_EQ(roundTrip(echo, echo.size()), echo);
        QTest::qWait(100);
    }
    EXPECT_EQ(countLog("ECHO 超时"), 0);

    // Silence beyond the time-out: the link is torn down and opened again at once.
    ASSERT_TRUE(waitForLog("ECHO 超时"));
    const qsizetype opened = countLog("端口已打开");
    EXPECT_TRUE(QTest::qWaitFor([&] { return countLog("端口已打开") > opened; }, waitMs));
    EXPECT_TRUE(waitConnected());
    EXPECT_TRUE(logLines().filter("ECHO 超时").first().endsWith(" · 重连串口 · " + port_.path()));
}

TEST_F(SerialServiceTest, TheSendGateRaisesAndLowersTheSessionBulkDepth) {
    SerialServiceTimings timings = fastTimings();
    timings.healthCheckInterval = 1h; // no drains besides the ones this test causes
    timings.echoCheckInterval = 1h;
    start(timings);
    ASSERT_TRUE(waitConnected());
    ASSERT_EQ(service_->sessionBulkTransferDepth(), 0);

    service_->beginExclusiveProtocolSend();
    service_->beginExclusiveProtocolSend();
    EXPECT_EQ(service_->exclusiveSendDepth(), 2);
    EXPECT_EQ(service_->sessionBulkTransferDepth(), 2);

    // A drain during the send raises it once more.
    const QByteArray echo = probe(9);
    ASSERT_EQ(roundTrip(echo, echo.size()), echo);
    EXPECT_EQ(service_->sessionBulkTransferDepth(), 3);

    service_->endExclusiveProtocolSend();
    EXPECT_EQ(service_->sessionBulkTransferDepth(), 3); // still sending
    EXPECT_EQ(service_->exclusiveSendDepth(), 1);
    service_->endExclusiveProtocolSend();
    EXPECT_EQ(service_->sessionBulkTransferDepth(), 2);
    EXPECT_EQ(service_->exclusiveSendDepth(), 0);
    service_->endExclusiveProtocolSend(); // unmatched: still lowers, never below 0
    service_->endExclusiveProtocolSend();
    service_->endExclusiveProtocolSend();
    EXPECT_EQ(service_->sessionBulkTransferDepth(), 0);
    EXPECT_EQ(service_->exclusiveSendDepth(), 0);
}

TEST_F(SerialServiceTest, ABulkTransferLogsItsEndsAndSummarisesTheMiddle) {
    start();
    ASSERT_TRUE(waitConnected());
    std::atomic<int> handled{0};
    service_->setFrameHandler([&](const QByteArray& frame) {
        ++handled;
        return QList<QByteArray>{
            ProtocolWire::buildPacket(FrameChannel::trans, FrameType::GENERAL_REPLY,
                                      ProtocolWire::parseHeader(frame)->sn, QByteArray(1, 0))};
    });
    constexpr quint32 middles = 400;
    QByteArray stream = transFrame(FrameType::FIRST_PACKET, 1);
    for (quint32 sn = 2; sn < middles + 2; ++sn) {
        stream += transFrame(FrameType::MIDDLE_PACKET, sn);
    }
    stream += transFrame(FrameType::FINISH_PACKET, middles + 2);
    ASSERT_TRUE(port_.writeFromDevice(stream));
    const QByteArray replies = port_.readOnDevice(22 * (middles + 2), 5000ms);
    EXPECT_EQ(replies.size(), 22 * (middles + 2)); // MIDDLEs are answered, just not logged
    ASSERT_TRUE(waitForLog(QStringLiteral("RX sn=%1 ·").arg(middles + 2)));
    ASSERT_TRUE(waitForLog("接收中 MIDDLE ×"));

    const QStringList lines = logLines();
    EXPECT_EQ(lines.filter(QRegularExpression("^RX sn=1 ·")).size(), 1);
    EXPECT_EQ(lines.filter(QRegularExpression("^TX sn=1 ·")).size(), 1);
    qint64 summarised = 0;
    for (const QString& line : lines) {
        const auto match =
            QRegularExpression("^RX 接收中 MIDDLE ×(\\d+) · 本次 RX \\d+ B$").match(line);
        if (match.hasMatch()) {
            summarised += match.captured(1).toLongLong();
        }
        const auto sn = QRegularExpression("^(RX|TX) sn=(\\d+) ").match(line);
        if (sn.hasMatch()) {
            const quint32 value = sn.captured(2).toUInt();
            EXPECT_TRUE(value == 1 || value == middles + 2) << line.toStdString();
        }
    }
    EXPECT_EQ(summarised, middles);
    EXPECT_EQ(handled, int(middles + 2));
}

TEST_F(SerialServiceTest, LineNoiseBecomesOneMergedWarning) {
    start();
    ASSERT_TRUE(waitConnected());
    for (quint32 sn = 1; sn <= 3; ++sn) {
        QByteArray damaged = probe(sn);
        damaged[damaged.size() - 1] = char(damaged[damaged.size() - 1] ^ 0x5A);
        ASSERT_TRUE(port_.writeFromDevice(damaged));
    }
    ASSERT_TRUE(waitForLog("WRN RX 噪声/无效帧 ×"));
    QTest::qWait(300);
    EXPECT_EQ(countLog("RX 噪声/无效帧"), 1);
    EXPECT_EQ(countLog("RX sn="), 0);
    EXPECT_EQ(echoes_, 0);
}

TEST_F(SerialServiceTest, WritesNeedALiveLink) {
    create();
    const QByteArray frame = probe(5);
    auto closed = service_->writeFrameDataAndWait(frame, QStringLiteral("TX"));
    ASSERT_FALSE(closed);
    EXPECT_TRUE(closed.error().isSerialClosed());
    EXPECT_EQ(closed.error().description(), "串口未连接");

    service_->setSelectedPath(port_.path());
    service_->activate();
    ASSERT_TRUE(waitConnected());
    ASSERT_TRUE(service_->writeFrameDataAndWait(frame, QStringLiteral("APP")));
    EXPECT_EQ(port_.readOnDevice(frame.size()), frame);
    EXPECT_TRUE(waitForLog("TX APP · sn=5 · " + QString::number(frame.size()) + " B"));
}

TEST_F(SerialServiceTest, WithAnotherLinkChosenThePortStaysClosedAndSaysSo) {
    SerialServiceTimings timings = fastTimings();
    timings.healthCheckInterval = 1h;
    create(timings);
    service_->setSelectedPath(port_.path());
    service_->setOtherLinkChosen(true);
    service_->activate();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return service_->statusText() == "closed · 使用蓝牙"; }, waitMs));
    EXPECT_FALSE(service_->isPortOpen());
    auto refused = service_->writeFrameDataAndWait(probe(6), std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().isSerialClosed());
}

TEST_F(SerialServiceTest, AHandlerStillRunningAtDestructionMayCallBackIntoTheService) {
    start();
    ASSERT_TRUE(waitConnected());
    // A probe is being handled while the owner destroys the service: the handler only
    // reports the echo once the destruction is under way, as a slow handler would.
    std::atomic<bool> handling = false;
    std::atomic<bool> reported = false;
    SerialService* service = service_.get();
    service_->setFrameHandler([&](const QByteArray&) -> QList<QByteArray> {
        handling = true;
        std::this_thread::sleep_for(300ms);
        service->noteEchoReceived();
        service->verifyConnectionHealth();
        reported = true;
        return {};
    });
    ASSERT_TRUE(port_.writeFromDevice(probe(1)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return handling.load(); }, waitMs));
    echoTarget_ = nullptr;
    service_.reset();
    EXPECT_TRUE(reported);
}

TEST_F(SerialServiceTest, DisconnectStopsAttemptsUntilConnect) {
    start();
    ASSERT_TRUE(waitConnected());
    service_->disconnect();
    ASSERT_TRUE(waitConnected(false));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return service_->statusText() == "closed · " + port_.path(); }, waitMs));
    EXPECT_FALSE(service_->userWantsConnection());
    QTest::qWait(500); // several health checks
    EXPECT_FALSE(service_->isConnected());
    EXPECT_EQ(service_->statusText(), "closed · " + port_.path());

    service_->connect();
    EXPECT_TRUE(waitConnected());
    EXPECT_TRUE(service_->userWantsConnection());
}

} // namespace
} // namespace orvane
