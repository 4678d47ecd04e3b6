// orvane-cli over BLE: the program as a process, the BlueZ stand-in on a private system bus
// and the simulated device behind the stand-in's bridges.

#include "support/BleStandinProcess.h"
#include "support/DevsimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace orvane;

namespace {

constexpr int waitMs = 15000;
const QString nordicBridge = QStringLiteral("C0:FF:EE:00:00:01");
const QString fff0Bridge = QStringLiteral("C0:FF:EE:00:00:02");

class OrvaneCliBleTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (cli_.state() != QProcess::NotRunning) {
            cli_.kill();
            cli_.waitForFinished(3000);
        }
    }

    // Starts the stand-in with these peripherals; false (the test skipped or failed) when
    // it cannot run here.
    bool startStandin(const QStringList& args) {
        standin_ = std::make_unique<BleStandinProcess>(args);
        if (!standin_->skipReason().isEmpty()) {
            skip_ = standin_->skipReason();
            return false;
        }
        EXPECT_TRUE(standin_->isReady()) << standin_->error().toStdString();
        return standin_->isReady();
    }

    void startCli(const QStringList& args) {
        QProcessEnvironment env = standin_->clientEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome_.path());
        cli_.setProcessEnvironment(env);
        cli_.start(QStringLiteral(ORVANE_CLI_PATH), args);
        ASSERT_TRUE(cli_.waitForStarted(3000));
    }

    int runCli(const QStringList& args) {
        startCli(args);
        if (!cli_.waitForFinished(waitMs) || cli_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return cli_.exitCode();
    }

    std::optional<QJsonObject> nextJsonLine() {
        QDeadlineTimer deadline(waitMs);
        while (!cli_.canReadLine()) {
            if (deadline.hasExpired() || cli_.state() == QProcess::NotRunning) {
                return std::nullopt;
            }
            cli_.waitForReadyRead(50);
        }
        return QJsonDocument::fromJson(cli_.readLine()).object();
    }

    QTemporaryDir dataHome_;
    std::unique_ptr<BleStandinProcess> standin_;
    QString skip_;
    QProcess cli_;
};

#define START_STANDIN_OR_SKIP(...)                                                                 \
    if (!startStandin(__VA_ARGS__)) {                                                              \
        if (!skip_.isEmpty()) {                                                                    \
            GTEST_SKIP() << skip_.toStdString();                                                   \
        }                                                                                          \
        return;                                                                                    \
    }

} // namespace

TEST_F(OrvaneCliBleTest, ScanListsBothBridgeVariants) {
    START_STANDIN_OR_SKIP({QStringLiteral("--nordic"), nordicBridge, QStringLiteral("--fff0"),
                           fff0Bridge + QStringLiteral("=KVM-B")});
    ASSERT_EQ(runCli({QStringLiteral("scan"), QStringLiteral("--json"), QStringLiteral("--seconds"),
                      QStringLiteral("1")}),
              0)
        << cli_.readAllStandardError().toStdString();
    QMap<QString, QJsonObject> found;
    while (cli_.canReadLine()) {
        const QJsonObject line = QJsonDocument::fromJson(cli_.readLine()).object();
        found.insert(line.value(QStringLiteral("id")).toString(), line);
    }
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[nordicBridge].value("bridge").toString(),
              "6E400001-B5A3-F393-E0A9-E50E24DCCA9E");
    EXPECT_EQ(found[fff0Bridge].value("bridge").toString(), "0000FFF0-0000-1000-8000-00805F9B34FB");
    EXPECT_EQ(found[fff0Bridge].value("name").toString(), "KVM-B");
}

TEST_F(OrvaneCliBleTest, ListenAndSendOverTheBridge) {
    QTemporaryDir saved;
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("300"),
                          QStringLiteral("--push-text"), QStringLiteral("你好, BLE"),
                          QStringLiteral("--save-dir"), saved.path()});
    ASSERT_TRUE(device.waitFor(QStringLiteral("plugged")));
    START_STANDIN_OR_SKIP(
        {QStringLiteral("--link"), device.link, QStringLiteral("--fff0"), fff0Bridge});

    // A push arrives whole, cut into 20-byte notifications on the way.
    startCli({QStringLiteral("listen"), QStringLiteral("--ble"), fff0Bridge.toLower(),
              QStringLiteral("--json")});
    const auto item = nextJsonLine();
    ASSERT_TRUE(item) << cli_.readAllStandardError().toStdString();
    EXPECT_EQ(item->value(QStringLiteral("text")).toString(), "你好, BLE");
    EXPECT_TRUE(device.waitFor(QStringLiteral("probe_matched")));
    cli_.terminate();
    ASSERT_TRUE(cli_.waitForFinished(waitMs));
    EXPECT_EQ(cli_.exitCode(), 0);

    // And the other way: the client's transfer reaches the device.
    device.skipPending();
    EXPECT_EQ(runCli({QStringLiteral("send"), QStringLiteral("--ble"), fff0Bridge,
                      QStringLiteral("--text"), QStringLiteral("from the target")}),
              0)
        << cli_.readAllStandardError().toStdString();
    const auto received = device.waitFor(QStringLiteral("receive_done"));
    ASSERT_TRUE(received);
    QFile file(received->value(QStringLiteral("savedTo")).toString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("from the target"));
}

// No adapter, an adapter switched off, a policy that keeps us out: each is said at once.
TEST_F(OrvaneCliBleTest, UnavailableBluetoothIsToldAtOnce) {
    const std::pair<const char*, const char*> cases[] = {
        {"--no-bluez", "当前设备不支持蓝牙，或运行在虚拟机等无蓝牙环境"},
        {"--powered-off", "蓝牙已关闭，请在系统设置中开启"},
        {"--deny", "无蓝牙权限，请在系统设置中授权 Orvane"},
    };
    for (const auto& [option, text] : cases) {
        SCOPED_TRACE(option);
        START_STANDIN_OR_SKIP({QString::fromLatin1(option)});
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(runCli({QStringLiteral("scan")}), 1);
        EXPECT_LT(clock.elapsed(), 3000);
        const QString err = QString::fromUtf8(cli_.readAllStandardError());
        EXPECT_TRUE(err.contains(QString::fromUtf8(text))) << err.toStdString();
    }
}
