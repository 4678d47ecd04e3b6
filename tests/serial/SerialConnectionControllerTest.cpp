#include "serial/SerialConnectionController.h"

#include "FakeSerialDeviceSource.h"
#include "FakeSerialPortOpenWatches.h"
#include "ScriptedSerialPort.h"

#include <gtest/gtest.h>
#include <thread>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

const QString acm0 = QStringLiteral("/dev/ttyACM0");
const QString acm1 = QStringLiteral("/dev/ttyACM1");

// The connection rules run synchronously on the test thread against a fake clock: every
// wait of minutes of device time passes in an instant. Sessions are real, over a scripted
// port, so only their threads take (a few milliseconds of) real time.
class SerialConnectionControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_->existing = {acm0};
        source_->nodes = QStringList{acm0};
        source_->registry = {{acm0, QString("KVM")}};
        host_.chosen.path = acm0;
        controller_.setActive(true);
    }

    std::unique_ptr<SerialPortSession> makeSession(const QString& path, qint64 baud) {
        SerialPortSession::Timing timing;
        timing.openAttempts = 1;
        timing.initialReopenBackoffUs = 1000;
        timing.maxReopenBackoffUs = 2000;
        timing.reopenPause = 0ms;
        timing.readPollTimeoutMs = 5;
        const auto quiet = [](const QString&) {
        };
        return std::make_unique<SerialPortSession>(
            path, baud, std::make_unique<testing::ScriptedSerialPortIO>(device_, source_),
            SerialPortSession::Log{quiet, quiet}, timing);
    }

    // The wait the controller set after its last attempt.
    milliseconds currentWait() const {
        const auto next = controller_.nextReconnectAllowedAt();
        return next ? duration_cast<milliseconds>(*next - clock_.now()) : 0ms;
    }

    void healthChecks(int count) {
        for (int check = 0; check < count; ++check) {
            clock_.advance(timings_.healthCheckInterval);
            controller_.runPeriodicHealthCheckLocked();
        }
    }
    int listings() const {
        std::lock_guard lock(source_->mutex);
        return source_->listings;
    }

    // Lets the wait run out and runs the periodic check that makes the next attempt.
    void checkAfterTheWait() {
        if (const auto next = controller_.nextReconnectAllowedAt()) {
            clock_.advanceTo(*next);
        }
        controller_.runPeriodicHealthCheckLocked();
    }

    std::shared_ptr<testing::FakeSerialDeviceSource> source_ =
        std::make_shared<testing::FakeSerialDeviceSource>();
    testing::FakeSerialClock clock_;
    const SerialServiceTimings timings_;
    SerialPortRegistry registry_{source_, clock_, timings_};
    testing::RecordingConnectionHost host_;
    std::shared_ptr<testing::ScriptedDevice> device_ = std::make_shared<testing::ScriptedDevice>();
    SerialConnectionController controller_{
        host_, registry_,
        [this](const QString& path, qint64 baud) { return makeSession(path, baud); }, clock_,
        timings_};
};

TEST_F(SerialConnectionControllerTest, ADeviceThatIsNotConfiguredIsRetriedEverLessOften) {
    device_->failOpens(SerialErrorKind::notConfigured, "没有那个设备或地址");
    controller_.startReconnectLoopLocked();
    EXPECT_EQ(device_->opens, 1); // neither busy nor missing: one try per attempt
    EXPECT_EQ(clock_.takeSleeps(), (std::vector<milliseconds>{1000ms}));
    EXPECT_EQ(host_.status, "reconnecting · 3s · " + acm0);
    EXPECT_TRUE(host_.lines.contains("SYS 连接失败 " + acm0 +
                                     ": 打开失败: 没有那个设备或地址 · 将自动重试"));

    std::vector<milliseconds> waits{currentWait()};
    for (int attempt = 2; attempt <= 7; ++attempt) {
        // Not a moment before the wait is over.
        clock_.advanceTo(*controller_.nextReconnectAllowedAt() - 1ms);
        controller_.runPeriodicHealthCheckLocked();
        ASSERT_EQ(device_->opens, attempt - 1);
        checkAfterTheWait();
        ASSERT_EQ(device_->opens, attempt);
        // Two more half-seconds before each open while the device keeps failing.
        EXPECT_EQ(clock_.takeSleeps(), (std::vector<milliseconds>{2000ms}));
        waits.push_back(currentWait());
    }
    EXPECT_EQ(waits, (std::vector<milliseconds>{3000ms, 5000ms, 7000ms, 9000ms, 11000ms, 12000ms,
                                                12000ms}));
    EXPECT_EQ(controller_.backoff().consecutiveFatalCount, 6);

    // Once it answers, the next attempt connects and the back-off starts afresh later.
    device_->acceptOpens();
    checkAfterTheWait();
    EXPECT_TRUE(host_.live);
    EXPECT_TRUE(controller_.isLinkLiveLocked());
}

TEST_F(SerialConnectionControllerTest, ABusyPortIsTriedThreeTimesAndItsHolderNamed) {
    device_->failOpens(SerialErrorKind::busy, "设备或资源忙");
    source_->occupiers = {{acm0, "minicom"}};
    controller_.startReconnectLoopLocked();
    EXPECT_EQ(device_->opens, 3);
    // The pre-open pause, then 200 ms and 400 ms between the tries.
    EXPECT_EQ(clock_.takeSleeps(), (std::vector<milliseconds>{1000ms, 200ms, 400ms}));
    const QString hint = "minicom 占用 " + acm0;
    EXPECT_EQ(host_.lines.filter("ERR open retry").size(), 2);
    EXPECT_TRUE(host_.lines.contains("ERR open retry 2 after busy: 打开失败: 设备或资源忙"));
    EXPECT_TRUE(host_.lines.contains("ERR port busy: " + hint));
    EXPECT_EQ(host_.hint, hint);
    EXPECT_EQ(host_.status, hint);
    EXPECT_EQ(currentWait(), 2000ms);
    EXPECT_EQ(controller_.backoff().consecutiveFatalCount, 0);
}

TEST_F(SerialConnectionControllerTest, ASessionThatDiesFatallySoonAfterConnectingIsAQuickDeath) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());
    clock_.takeSleeps();

    // The device stops answering: the session's read loop loses the line and the driver
    // refuses the node when it reopens.
    device_->failOpens(SerialErrorKind::notConfigured, "Input/output error");
    device_->alive = false;
    const auto session = controller_.sessionLocked();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (session->lastErrorKind() != SerialErrorKind::notConfigured &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(session->lastErrorKind(), SerialErrorKind::notConfigured);

    clock_.advance(1000ms); // well within the quick-death lifetime
    controller_.runPeriodicHealthCheckLocked();
    EXPECT_TRUE(host_.lines.contains("SYS 串口断开 " + acm0 + " · Input/output error"));
    EXPECT_EQ(controller_.backoff().quickDeathCount, 1);
    EXPECT_EQ(controller_.backoff().consecutiveFatalCount, 1);
    EXPECT_EQ(currentWait(), 6000ms); // 3 s, and 3 s more per quick death

    // The next attempt lets the driver settle 5 s (1 s more per quick death) after
    // closing the dead session, and pauses (1 + 2 + 2) half-seconds before opening.
    checkAfterTheWait();
    EXPECT_EQ(clock_.takeSleeps(), (std::vector<milliseconds>{6000ms, 2500ms}));
    EXPECT_EQ(controller_.backoff().consecutiveFatalCount, 2);
    EXPECT_EQ(currentWait(), 8000ms);
}

TEST_F(SerialConnectionControllerTest, ALinkWithoutEchoForTheTimeOutIsReopenedAtOnce) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());
    clock_.advance(9000ms);
    controller_.runEchoHealthCheckLocked();
    controller_.noteEchoReceivedLocked();
    clock_.advance(10000ms);
    controller_.runEchoHealthCheckLocked();
    EXPECT_EQ(host_.lines.filter("ECHO 超时").size(), 0);
    EXPECT_EQ(device_->opens, 1);

    clock_.advance(600ms);
    controller_.runEchoHealthCheckLocked();
    EXPECT_TRUE(host_.lines.contains("SYS ECHO 超时 11s · 重连串口 · " + acm0));
    EXPECT_EQ(device_->opens, 2);
    EXPECT_TRUE(controller_.isLinkLiveLocked());
}

TEST_F(SerialConnectionControllerTest, FollowsADeviceThatReEnumeratedUnderANewPath) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());

    // The device drops off the bus and comes back as the next node, with the same name;
    // its old node and registry entry are gone.
    {
        std::lock_guard lock(source_->mutex);
        source_->existing = {acm1};
        source_->nodes = QStringList{acm1};
        source_->registry = {{acm1, QString("KVM")}};
    }
    device_->alive = false;
    controller_.runPeriodicHealthCheckLocked();

    EXPECT_EQ(host_.migrations, QStringList{acm1});
    EXPECT_TRUE(host_.lines.contains("SYS 串口重枚举 " + acm0 + " → " + acm1));
    ASSERT_TRUE(controller_.sessionLocked());
    EXPECT_EQ(controller_.sessionLocked()->path(), acm1);
    EXPECT_TRUE(controller_.isLinkLiveLocked());
    EXPECT_TRUE(host_.live);
}

TEST_F(SerialConnectionControllerTest, AMissingDeviceIsReportedOnceAndAwaitedBriefly) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());
    {
        std::lock_guard lock(source_->mutex);
        source_->existing.clear();
        source_->nodes = QStringList();
    }
    device_->alive = false;
    for (int check = 0; check < 3; ++check) {
        checkAfterTheWait();
    }
    EXPECT_EQ(host_.lines.filter("串口断开").size(), 1);
    EXPECT_TRUE(host_.lines.contains("SYS 串口断开 " + acm0 + " · device removed"));
    EXPECT_EQ(host_.hint, "等待 " + acm0 + " 重新枚举…");
    EXPECT_FALSE(host_.live);
    EXPECT_LE(currentWait(), 500ms);
}

TEST_F(SerialConnectionControllerTest, AHeldLinkListsNoPortsWhileHotplugEventsReportThem) {
    host_.changesReported = true;
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());
    const int listed = listings();
    healthChecks(15);
    EXPECT_EQ(listings(), listed);
    EXPECT_TRUE(host_.live);

    // Without them the list is refreshed once it is old.
    host_.changesReported = false;
    healthChecks(3);
    EXPECT_EQ(listings(), listed + 1);
}

class SerialConnectionControllerOpenersTest : public SerialConnectionControllerTest {
protected:
    void SetUp() override {
        SerialConnectionControllerTest::SetUp();
        controller_.setOpenWatch(watches_.factory(), [](std::function<void()> task) { task(); });
    }
    void setSharers(const QStringList& programs) {
        std::lock_guard lock(source_->mutex);
        source_->sharers[acm0] = programs;
    }
    int scans() const {
        std::lock_guard lock(source_->mutex);
        return source_->openerScans;
    }

    testing::FakeSerialPortOpenWatches watches_;
};

TEST_F(SerialConnectionControllerOpenersTest, LooksForSharersOnlyWhenThePortIsOpenedOrClosed) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(controller_.isLinkLiveLocked());
    EXPECT_TRUE(watches_.watching());
    EXPECT_EQ(watches_.path, acm0);
    EXPECT_EQ(scans(), 1); // whoever had it open before the watch
    healthChecks(5);
    EXPECT_EQ(scans(), 1);

    // The opener's descriptor is not visible yet when its open is reported: the next
    // health check looks once more, and later ones do not.
    EXPECT_TRUE(watches_.report({.opened = true}));
    EXPECT_EQ(scans(), 2);
    EXPECT_TRUE(host_.hint.isEmpty());
    setSharers({"minicom"});
    healthChecks(3);
    EXPECT_EQ(scans(), 3);
    const QString hint = "minicom 也打开了 " + acm0 + "，可能会丢失数据";
    EXPECT_EQ(host_.hint, hint);
    EXPECT_EQ(host_.lines.filter("WRN").size(), 1);
    EXPECT_TRUE(host_.lines.contains("WRN " + hint));
    EXPECT_TRUE(host_.live);

    setSharers({});
    watches_.report({.closed = true});
    EXPECT_EQ(scans(), 4);
    EXPECT_TRUE(host_.hint.isEmpty());
    // With nobody else known a close tells nothing new.
    watches_.report({.closed = true});
    healthChecks(2);
    EXPECT_EQ(scans(), 4);
}

TEST_F(SerialConnectionControllerOpenersTest, TheWatchFollowsTheSessionAndItsNode) {
    controller_.startReconnectLoopLocked();
    ASSERT_TRUE(watches_.watching());
    setSharers({"cat"});
    // The node went away under a session that has reopened the path since: the next check
    // watches the new node and looks at who has it.
    watches_.report({.gone = true});
    EXPECT_FALSE(watches_.watching());
    healthChecks(1);
    EXPECT_TRUE(watches_.watching());
    EXPECT_EQ(watches_.started, 2);
    EXPECT_EQ(scans(), 2);
    EXPECT_EQ(host_.hint, "cat 也打开了 " + acm0 + "，可能会丢失数据");

    controller_.userDisconnectLocked();
    EXPECT_FALSE(watches_.watching());
    EXPECT_TRUE(host_.hint.isEmpty());
}

} // namespace
} // namespace orvane
