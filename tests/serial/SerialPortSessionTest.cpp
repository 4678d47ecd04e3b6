#include "serial/SerialPortSession.h"

#include "PseudoTerminalPort.h"
#include "platform/linux/LinuxSerialSpeed.h"
#include "platform/linux/PosixSerialPortIO.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialFrameDrain.h"
#include "support/TranslatedLocale.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;
using orvane::testing::PseudoTerminalPort;

namespace {

// Lines the session logged, kept for assertions; the session logs from several threads.
class LogRecorder {
public:
    SerialPortSession::Log log() {
        return {[this](const QString& line) { add(infos_, line); },
                [this](const QString& line) {
                    add(errors_, line);
                }};
    }
    QStringList infos() const { return copy(infos_); }
    QStringList errors() const { return copy(errors_); }

private:
    void add(QStringList& lines, const QString& line) {
        std::lock_guard lock(mutex_);
        lines.append(line);
    }
    QStringList copy(const QStringList& lines) const {
        std::lock_guard lock(mutex_);
        return lines;
    }
    mutable std::mutex mutex_;
    QStringList infos_;
    QStringList errors_;
};

// The real Linux calls, with counters and an optional driver that refuses speeds.
class ObservedIO : public PosixSerialPortIO {
public:
    struct Counters {
        std::atomic<int> opens{0};
        std::atomic<int> writes{0};
        // Speeds other than this one are refused; 0 accepts all, -1 refuses all.
        std::atomic<qint64> onlySpeed{0};
        // Reports every path as present, the way a node that vanishes between the check
        // and the open() looks.
        std::atomic<bool> claimPathsExist{false};
    };
    explicit ObservedIO(std::shared_ptr<Counters> counters)
        : counters_(std::move(counters)) {}

    bool pathExists(const QString& path) override {
        return counters_->claimPathsExist || PosixSerialPortIO::pathExists(path);
    }
    Result<int, SerialSystemError> openExclusive(const QString& path) override {
        ++counters_->opens;
        return PosixSerialPortIO::openExclusive(path);
    }
    Result<qint64, SerialSystemError> setSpeed(int fd, qint64 baud) override {
        const qint64 only = counters_->onlySpeed;
        if (only != 0 && baud != only) {
            return fail(SerialSystemError{EINVAL, QStringLiteral("Invalid argument")});
        }
        return PosixSerialPortIO::setSpeed(fd, baud);
    }
    SerialIOCount writeSome(int fd, const char* data, qint64 length) override {
        ++counters_->writes;
        return PosixSerialPortIO::writeSome(fd, data, length);
    }

private:
    std::shared_ptr<Counters> counters_;
};

SerialPortSession::Timing fastTiming() {
    SerialPortSession::Timing timing;
    timing.openAttempts = 3;
    timing.openRetryDelay = 1ms;
    timing.initialReopenBackoffUs = 10000;
    timing.maxReopenBackoffUs = 50000;
    timing.reopenPause = 1ms;
    timing.readPollTimeoutMs = 200;
    return timing;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

QByteArray echoFrame(quint32 sn, QByteArrayView payload = "ping") {
    return ProtocolWire::buildPacket(0x01, FrameType::PERIPHERAL_ECHO, sn, payload);
}

class SerialPortSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port_.plug()); }

    std::unique_ptr<SerialPortSession>
    makeSession(qint64 baud = 2000000, SerialPortSession::Timing timing = fastTiming()) {
        return std::make_unique<SerialPortSession>(
            port_.path(), baud, std::make_unique<ObservedIO>(counters_), recorder_.log(), timing);
    }

    // Collects frames and issues until `frames` frames arrived (or the limit passed).
    SerialPortSession::PendingData collect(SerialPortSession& session, qsizetype frames,
                                           qsizetype issues = 0) {
        SerialPortSession::PendingData all;
        waitFor([&] {
            auto taken = session.takePendingData();
            all.frames.append(taken.frames);
            all.issues.append(taken.issues);
            return all.frames.size() >= frames && all.issues.size() >= issues;
        });
        return all;
    }

    PseudoTerminalPort port_;
    LogRecorder recorder_;
    std::shared_ptr<ObservedIO::Counters> counters_ = std::make_shared<ObservedIO::Counters>();
};

} // namespace

TEST_F(SerialPortSessionTest, CarriesFramesBothWays) {
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());
    EXPECT_TRUE(session->isOpen());
    EXPECT_TRUE(session->isReadyForWrite());
    EXPECT_EQ(session->actualBaudRate(), 2000000);
    EXPECT_TRUE(recorder_.infos().contains(
        QStringLiteral("tty raw 8N1 baud=2000000 latency=1ms nonblock")));
    EXPECT_TRUE(
        recorder_.infos().contains(QStringLiteral("attach %1 baud=2000000").arg(port_.path())));

    const QByteArray first = echoFrame(1);
    const QByteArray second = echoFrame(2, QByteArray(300, '\x57'));
    ASSERT_TRUE(port_.writeFromDevice(first + second));
    const auto got = collect(*session, 2);
    ASSERT_EQ(got.frames.size(), 2);
    EXPECT_EQ(got.frames[0], first);
    EXPECT_EQ(got.frames[1], second);
    EXPECT_TRUE(got.issues.isEmpty());
    EXPECT_EQ(session->totalRxBytes(), quint64(first.size() + second.size()));

    const QByteArray reply = echoFrame(3, "pong");
    ASSERT_TRUE(session->writeAndFlush(reply).ok());
    EXPECT_EQ(port_.readOnDevice(reply.size()), reply);
    session->write(echoFrame(4));
    EXPECT_EQ(port_.readOnDevice(echoFrame(4).size()), echoFrame(4));
}

TEST_F(SerialPortSessionTest, ReassemblesFramesSplitAcrossReadsIncludingTheSyncPair) {
    auto session = makeSession();
    std::atomic<int> pendingCalls{0};
    session->setOnPendingData([&] { ++pendingCalls; });
    ASSERT_TRUE(session->open().ok());

    const QByteArray frame = echoFrame(7, "split me");
    // Lone first sync byte, then the rest of the header, then payload and checksum: each
    // piece is read before the next one is written.
    const qsizetype cuts[] = {1, 10, frame.size() - 3};
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        ASSERT_TRUE(port_.writeFromDevice(frame.mid(from, cut - from)));
        ASSERT_TRUE(waitFor([&] { return session->totalRxBytes() == quint64(cut); }));
        from = cut;
    }
    EXPECT_TRUE(session->takePendingData().frames.isEmpty());
    ASSERT_TRUE(port_.writeFromDevice(frame.mid(from)));
    const auto got = collect(*session, 1);
    ASSERT_EQ(got.frames.size(), 1);
    EXPECT_EQ(got.frames[0], frame);
    EXPECT_TRUE(got.issues.isEmpty());
    EXPECT_GE(pendingCalls.load(), 1);
}

TEST_F(SerialPortSessionTest, SkipsNoiseAndReportsDamagedFrames) {
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());

    QByteArray damaged = echoFrame(8);
    damaged[damaged.size() - 6] = char(damaged.at(damaged.size() - 6) ^ 0x01);
    const QByteArray good = echoFrame(9);
    ASSERT_TRUE(port_.writeFromDevice(QByteArray("\x01\x02\x03 noise", 9) + good + damaged + good));
    const auto got = collect(*session, 2, 1);
    ASSERT_EQ(got.frames.size(), 2);
    EXPECT_EQ(got.frames[0], good);
    EXPECT_EQ(got.frames[1], good);
    ASSERT_EQ(got.issues.size(), 1);
    EXPECT_TRUE(
        got.issues[0].message.startsWith(QStringLiteral("帧校验失败 @ offset 0: CRC mismatch")))
        << got.issues[0].message.toStdString();
    EXPECT_EQ(got.issues[0].data, damaged);
    EXPECT_TRUE(
        recorder_.errors().contains(QStringLiteral("frame issue: ") + got.issues[0].message));
}

TEST_F(SerialPortSessionTest, ReceivesTheLargestFrameWhole) {
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());

    // The receive buffer must hold all 65557 bytes while the frame is incomplete instead
    // of trimming it at 64 KiB.
    QByteArray payload(65536, Qt::Uninitialized);
    for (qsizetype i = 0; i < payload.size(); ++i) {
        payload[i] = char(i * 7);
    }
    const QByteArray largest =
        ProtocolWire::buildPacket(0x06, FrameType::MIDDLE_PACKET, 5, payload);
    const QByteArray small = echoFrame(6);
    // Stop just past 64 KiB until the session has read it all, then send the rest.
    ASSERT_TRUE(port_.writeFromDevice(largest.left(65537)));
    ASSERT_TRUE(waitFor([&] { return session->totalRxBytes() == 65537; }));
    ASSERT_TRUE(port_.writeFromDevice(largest.mid(65537) + small));
    const auto got = collect(*session, 2);
    ASSERT_EQ(got.frames.size(), 2);
    EXPECT_TRUE(got.frames[0] == largest);
    EXPECT_EQ(got.frames[1], small);
    EXPECT_TRUE(got.issues.isEmpty());
    EXPECT_TRUE(recorder_.errors().isEmpty());
}

TEST_F(SerialPortSessionTest, RefusesASecondOpenerAsBusyWithoutRetrying) {
    auto holder = makeSession();
    ASSERT_TRUE(holder->open().ok());
    counters_->opens = 0;

    SerialPortSession::Timing patient = fastTiming();
    patient.openAttempts = 20;
    auto second = makeSession(2000000, patient);
    auto opened = second->open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), SerialPortError::openFailed(QStringLiteral("Device or resource busy"),
                                                          SerialErrorKind::busy));
    EXPECT_EQ(opened.error().description(), QStringLiteral("打开失败: Device or resource busy"));
    EXPECT_EQ(counters_->opens.load(), 1);
    EXPECT_EQ(second->lastError(), QStringLiteral("Device or resource busy"));
    EXPECT_FALSE(second->isOpen());

    // Once the holder lets go the port can be taken.
    holder->close(true);
    EXPECT_TRUE(second->open().ok());
}

TEST_F(SerialPortSessionTest, GivesUpOnAMissingNodeAfterItsAttempts) {
    port_.unplug();
    auto session = makeSession();
    auto opened = session->open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(),
              SerialPortError::openFailed(QStringLiteral("No such file or directory"),
                                          SerialErrorKind::missing));
    EXPECT_EQ(counters_->opens.load(), 0);
    EXPECT_FALSE(session->readerRunning());
}

TEST_F(SerialPortSessionTest, ReopensInPlaceAfterUnplugAndReplug) {
    auto session = makeSession();
    auto recovered = std::make_shared<std::atomic<int>>(0);
    auto notice = std::make_shared<QString>();
    session->setOnRecoverNotice([recovered, notice](const QString& what) {
        *notice = what;
        ++*recovered;
    });
    ASSERT_TRUE(session->open().ok());

    port_.unplug();
    ASSERT_TRUE(waitFor([&] { return session->waitingReconnect(); }));
    EXPECT_FALSE(session->isReadyForWrite());
    EXPECT_TRUE(session->readerRunning());
    // While the node is missing the backoff sits at its ceiling.
    ASSERT_TRUE(waitFor([&] { return session->reopenBackoffUs() == 50000; }));
    EXPECT_FALSE(session->writeAndFlush(echoFrame(1)).ok());

    ASSERT_TRUE(port_.plug());
    ASSERT_TRUE(waitFor([&] { return recovered->load() == 1; }));
    EXPECT_EQ(*notice, QStringLiteral("reopen"));
    EXPECT_FALSE(session->waitingReconnect());
    EXPECT_TRUE(session->isReadyForWrite());
    EXPECT_EQ(session->reopenBackoffUs(), 10000u);
    EXPECT_EQ(session->lastError(), std::nullopt);
    EXPECT_TRUE(
        recorder_.infos().contains(QStringLiteral("reopen ok %1 baud=2000000").arg(port_.path())));
    // Reopen failures were logged once, not for every attempt.
    int reopenFailures = 0;
    for (const QString& line : recorder_.errors()) {
        reopenFailures += line.startsWith(QStringLiteral("reopen failed: ")) ? 1 : 0;
    }
    EXPECT_LE(reopenFailures, 1);

    const QByteArray frame = echoFrame(11);
    ASSERT_TRUE(port_.writeFromDevice(frame));
    const auto got = collect(*session, 1);
    ASSERT_EQ(got.frames.size(), 1);
    EXPECT_EQ(got.frames[0], frame);
    ASSERT_TRUE(session->writeAndFlush(frame).ok());
    EXPECT_EQ(port_.readOnDevice(frame.size()), frame);
}

TEST_F(SerialPortSessionTest, AReopenThatFindsNoNodeWaitsTheLongestBackoffInEveryLanguage) {
    const auto reopenUntilMissing = [&] {
        auto session = makeSession();
        ASSERT_TRUE(session->open().ok());
        counters_->claimPathsExist = true;
        port_.unplug();
        ASSERT_TRUE(waitFor([&] {
            return session->waitingReconnect() &&
                   session->lastErrorKind() == SerialErrorKind::missing;
        })) << session->lastError().value_or("").toStdString();
        EXPECT_EQ(session->reopenBackoffUs(), 50000u); // at once, not doubling towards it
        session->close(true);
        counters_->claimPathsExist = false;
        ASSERT_TRUE(port_.plug());
    };
    reopenUntilMissing();
    orvane::testing::TranslatedLocale chinese;
    if (!chinese.available()) {
        GTEST_SKIP() << chinese.skipReason();
    }
    reopenUntilMissing();
}

TEST_F(SerialPortSessionTest, HardwareDisconnectNoticeLeavesAHealthyPortAlone) {
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());

    // A notice about some other device leaves a healthy port alone.
    session->noteHardwareDisconnect();
    session->consumeDeferredHardwareReconnectIfNeeded();
    EXPECT_TRUE(session->isReadyForWrite());
    EXPECT_FALSE(session->waitingReconnect());
    const QByteArray frame = echoFrame(12);
    ASSERT_TRUE(port_.writeFromDevice(frame));
    EXPECT_EQ(collect(*session, 1).frames, QList<QByteArray>{frame});
}

TEST_F(SerialPortSessionTest, AppliesACustomSpeedAndReadsItBack) {
    auto session = makeSession(1234567);
    ASSERT_TRUE(session->open().ok());
    EXPECT_EQ(session->actualBaudRate(), 1234567);
    auto inForce = LinuxSerialSpeed::readSpeed(port_.slaveFd());
    ASSERT_TRUE(inForce.ok());
    EXPECT_EQ(inForce.value(), 1234567);
    EXPECT_TRUE(recorder_.errors().isEmpty());
}

TEST_F(SerialPortSessionTest, FallsBackTo230400WhenTheDriverRefusesTheSpeed) {
    counters_->onlySpeed = 230400;
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());
    EXPECT_EQ(session->actualBaudRate(), 230400);
    EXPECT_TRUE(
        recorder_.errors().contains(QStringLiteral("IOSSIOSPEED 2000000 failed, fallback 230400")));
    EXPECT_EQ(LinuxSerialSpeed::readSpeed(port_.slaveFd()).value(), 230400);
    EXPECT_TRUE(
        recorder_.infos().contains(QStringLiteral("tty raw 8N1 baud=230400 latency=1ms nonblock")));
}

TEST_F(SerialPortSessionTest, FailsAndReleasesThePortWhenEverySpeedIsRefused) {
    counters_->onlySpeed = -1;
    auto session = makeSession();
    auto opened = session->open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), SerialPortError::configureFailed(
                                  QStringLiteral("IOSSIOSPEED 2000000: Invalid argument")));
    EXPECT_FALSE(session->isOpen());

    counters_->onlySpeed = 0;
    auto next = makeSession();
    EXPECT_TRUE(next->open().ok()); // the refused attempt left no lock behind
}

TEST_F(SerialPortSessionTest, WritesLargerThanOneChunkArriveIntact) {
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());
    QByteArray data(200 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char& byte : data) {
        byte = char(generator.bounded(256));
    }
    counters_->writes = 0;
    QByteArray received;
    std::thread device([&] { received = port_.readOnDevice(data.size(), 10000ms); });
    const bool written = session->writeAndFlush(data).ok();
    device.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
    // No single write() was larger than a chunk, so at least size / 16384 were needed.
    EXPECT_GE(counters_->writes.load(), int(data.size() / session->maxWriteChunk()));
}

TEST_F(SerialPortSessionTest, EmptyWritesSucceedWithoutASystemCall) {
    auto never = makeSession();
    EXPECT_TRUE(never->writeAndFlush(QByteArray()).ok());
    auto session = makeSession();
    ASSERT_TRUE(session->open().ok());
    EXPECT_TRUE(session->writeAndFlush(QByteArray()).ok());
    EXPECT_EQ(counters_->writes.load(), 0);
}

TEST_F(SerialPortSessionTest, WritesOnAClosedSessionFail) {
    auto session = makeSession();
    auto failed = session->writeAndFlush(echoFrame(1));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), SerialPortError::writeFailed(QStringLiteral("fd closed")));
    EXPECT_EQ(failed.error().description(), QStringLiteral("写入失败: fd closed"));
}

TEST_F(SerialPortSessionTest, CloseOnANeverOpenedSessionKeepsCallbacksAndStaysQuiet) {
    auto states = std::make_shared<QList<bool>>();
    auto session = makeSession();
    session->setOnStateChange(
        [states](bool open, std::optional<QString>) { states->append(open); });
    session->close(false, QStringLiteral("nothing to close"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(states->isEmpty());

    ASSERT_TRUE(session->open().ok());
    ASSERT_EQ(*states, QList<bool>{true}); // the callback survived the close
}

TEST_F(SerialPortSessionTest, ClosingReportsOnTheMainThreadAndDropsCallbacks) {
    struct Seen {
        QList<bool> states;
        std::optional<QString> error;
        QThread* thread = nullptr;
    };
    auto seen = std::make_shared<Seen>();
    auto session = makeSession();
    session->setOnStateChange([seen](bool open, std::optional<QString> error) {
        seen->states.append(open);
        seen->error = error;
        seen->thread = QThread::currentThread();
    });
    ASSERT_TRUE(session->open().ok());
    ASSERT_TRUE(port_.writeFromDevice(echoFrame(1)));
    ASSERT_TRUE(waitFor([&] { return session->totalRxBytes() > 0; }));

    std::thread closer([&] { session->close(false, QStringLiteral("user")); });
    closer.join();
    EXPECT_EQ(seen->states, QList<bool>{true}); // posted, not called on the closing thread
    EXPECT_FALSE(session->readerRunning());
    EXPECT_TRUE(session->takePendingData().frames.isEmpty());
    EXPECT_TRUE(recorder_.infos().contains(QStringLiteral("close %1: user").arg(port_.path())));

    for (int i = 0; i < 100 && seen->states.size() < 2; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_EQ(seen->states, (QList<bool>{true, false}));
    EXPECT_EQ(seen->error, QStringLiteral("user"));
    EXPECT_EQ(seen->thread, QCoreApplication::instance()->thread());

    // The callbacks went with the close: opening again reports nothing.
    ASSERT_TRUE(session->open().ok());
    session->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen->states.size(), 2);
}

// ---- Buffer logic without a port ------------------------------------------------------

TEST(SerialFrameDrainTest, KeepsATrailingSyncByteAndDropsOtherNoise) {
    QList<QByteArray> frames;
    QList<FrameIssue> issues;
    QByteArray buffer("\x01\x02\x57", 3);
    SerialFrameDrain::drainProtocolFrames(buffer, frames, issues);
    EXPECT_EQ(buffer, QByteArray("\x57", 1));

    buffer = QByteArray("\x01\x02\x03", 3);
    SerialFrameDrain::drainProtocolFrames(buffer, frames, issues);
    EXPECT_TRUE(buffer.isEmpty());

    buffer = QByteArray("\x05", 1); // one byte may still be the start of something
    SerialFrameDrain::drainProtocolFrames(buffer, frames, issues);
    EXPECT_EQ(buffer, QByteArray("\x05", 1));
    EXPECT_TRUE(frames.isEmpty());
    EXPECT_TRUE(issues.isEmpty());
}

TEST(SerialFrameDrainTest, ClearsTheBufferWhenThePassCapIsReached) {
    const QByteArray frame = ProtocolWire::buildPacket(1, FrameType::PERIPHERAL_ECHO, 1, "x");
    QByteArray buffer = frame + frame + frame;
    QList<QByteArray> frames;
    QList<FrameIssue> issues;
    const auto outcome = SerialFrameDrain::drainProtocolFrames(buffer, frames, issues, 2);
    EXPECT_EQ(frames.size(), 2);
    EXPECT_TRUE(outcome.capped);
    EXPECT_EQ(outcome.clearedBytes, frame.size());
    EXPECT_TRUE(buffer.isEmpty());

    buffer = frame + frame;
    frames.clear();
    const auto roomy = SerialFrameDrain::drainProtocolFrames(buffer, frames, issues, 4);
    EXPECT_EQ(frames.size(), 2);
    EXPECT_FALSE(roomy.capped);
}

TEST(SerialFrameDrainTest, TrimKeepsTheNewerHalfAboveTheLargestFrame) {
    QByteArray buffer(65557, 'a');
    EXPECT_FALSE(SerialFrameDrain::trimRxBuffer(buffer).has_value());
    buffer.append('b');
    auto trim = SerialFrameDrain::trimRxBuffer(buffer);
    ASSERT_TRUE(trim.has_value());
    EXPECT_EQ(trim->before, 65558);
    EXPECT_EQ(trim->after, 32779);
    EXPECT_EQ(buffer.back(), 'b');

    buffer = QByteArray(65537, 'c');
    trim = SerialFrameDrain::trimRxBuffer(buffer, 65536);
    ASSERT_TRUE(trim.has_value());
    EXPECT_EQ(trim->after, 32769);
    EXPECT_EQ(buffer.size(), 32769);
}
