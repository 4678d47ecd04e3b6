// The application model over BLE: the real BLE service and Qt Bluetooth against the BlueZ
// stand-in, whose bridge leads to the simulated device. A serial port is saved as well, on
// a line that never probes, so the BLE link must win the automatic selection on its own.
// Qt keeps its system-bus connection for the life of the process, hence a program of its
// own with one stand-in.
#include "app/AppModel.h"
#include "platform/linux/QtBluetoothCentral.h"
#include "support/BleStandinProcess.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "support/FakeModelTimers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace orvane {
namespace {

const QString bridge = QStringLiteral("C0:FF:EE:00:00:01");

// How many descriptors of this process lead to `path`.
int openCount(const QString& path) {
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == path) {
            ++count;
        }
    }
    return count;
}

// A serial line on which no device ever speaks.
struct QuietLine {
    QuietLine() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = QString::fromLocal8Bit(name);
        }
    }
    ~QuietLine() {
        ::close(master);
        ::close(slave);
    }
    int master = -1;
    int slave = -1;
    QString path;
};

TEST(AppModelBleTest, TheFirstProbeOverBleSelectsItAndTextsGoBothWays) {
    QTemporaryDir data;
    DevsimProcess device({"--interval", "200", "--push-text", "über BLE 推送", "--save-dir",
                          data.filePath(QStringLiteral("device"))});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));
    BleStandinProcess standin(
        {QStringLiteral("--link"), device.link, QStringLiteral("--nordic"), bridge});
    if (!standin.skipReason().isEmpty()) {
        GTEST_SKIP() << standin.skipReason().toStdString();
    }
    ASSERT_TRUE(standin.isReady()) << standin.error().toStdString();
    standin.useInThisProcess();
    qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
    QuietLine serialLine;
    ASSERT_FALSE(serialLine.path.isEmpty());

    FakeClipboardIO io;
    FakeClipboardTimers clock;
    const QString database = data.filePath(QStringLiteral("test.db"));
    {
        auto store = AppStore::open(database);
        ASSERT_TRUE(store);
        AppSettings settings;
        settings.serialPort = serialLine.path;
        ASSERT_TRUE(store.value()->saveSettings(settings));
    }
    AppModel::Parts parts;
    parts.serialPlatform = ProtocolStack::singlePortPlatform(serialLine.path);
    parts.bluetoothCentral = std::make_unique<QtBluetoothCentral>([](const QString&) {});
    parts.clipboardIO = &io;
    parts.clipboardTimers = &clock;
    parts.timers = std::make_unique<FakeModelTimers>(clock);
    parts.openStore = [&] {
        return AppStore::open(database, [&] { return clock.nowMs(); });
    };
    AppModel model(std::move(parts));
    QCoreApplication::processEvents(); // startup()
    ASSERT_TRUE(model.isAutoSelecting());

    // The scan finds the bridge by its name, the model connects it, and the device's
    // first probe over it decides: BLE is the link, the serial port is let go.
    ASSERT_TRUE(test::waitUntil([&] { return !model.isAutoSelecting(); }, 20000));
    EXPECT_EQ(model.settings().bluetoothDeviceID, bridge);
    EXPECT_EQ(model.bleLink().deviceID(), bridge);
    EXPECT_TRUE(model.serial().selectedPath().isEmpty());
    EXPECT_TRUE(test::waitUntil([&] { return openCount(serialLine.path) == 1; }, 5000))
        << "the model still holds the serial port";

    // What the device pushes over BLE lands on the clipboard and in the stored history.
    ASSERT_TRUE(test::waitUntil([&] { return !model.clipboardState().history.isEmpty(); }, 15000));
    EXPECT_EQ(model.clipboardState().history[0].text, QStringLiteral("über BLE 推送"));
    EXPECT_EQ(io.content.text, QStringLiteral("über BLE 推送"));
    QList<ClipboardRecord> rows; // written in the background
    ASSERT_TRUE(test::waitUntil(
        [&] {
            auto listed = model.store()->listClipboardRecords(30);
            rows = listed ? listed.value() : QList<ClipboardRecord>();
            return !rows.isEmpty();
        },
        5000));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.front().text, QStringLiteral("über BLE 推送"));

    // A text copied here goes out over BLE, many 20-byte writes, and arrives intact.
    QString copied = QStringLiteral("从这里发出 · ");
    for (int i = 0; i < 20; ++i) {
        copied += QStringLiteral("line %1 of the text sent over BLE\n").arg(i);
    }
    io.copyText(copied);
    clock.advance(std::chrono::milliseconds(1000));
    ASSERT_TRUE(test::waitUntil(
        [&] { return model.clipboardState().history.value(0).text == copied; }, 5000));
    device.skipPending();
    model.sendClipboardItem(model.clipboardState().history[0].id);
    EXPECT_TRUE(model.isClipboardTransferring()) << model.errorMessage().toStdString();
    std::optional<QJsonObject> done;
    ASSERT_TRUE(test::waitUntil(
        [&] { return (done = device.waitFor(QStringLiteral("receive_done"), {}, 10)).has_value(); },
        30000));
    QFile arrived(done->value(QStringLiteral("savedTo")).toString());
    ASSERT_TRUE(arrived.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(arrived.readAll()), copied);
    ASSERT_TRUE(test::waitUntil([&] { return model.toast().has_value(); }, 5000));
    EXPECT_EQ(model.toast()->message, QStringLiteral("发送成功 · 文本"));
    clock.advance(AppModel::sendDoneTime);
    EXPECT_FALSE(model.isClipboardTransferring());
    model.shutdown();
}

} // namespace
} // namespace orvane
