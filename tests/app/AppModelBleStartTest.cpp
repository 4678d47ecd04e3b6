// The model's start against the BlueZ stand-in: a saved bridge is connected whatever its
// name, and a BlueZ slow to answer holds nothing up. Qt keeps its system-bus connection for
// the life of the process, hence one stand-in (and one simulated device) for the program.
#include "app/AppModel.h"
#include "platform/linux/QtBluetoothCentral.h"
#include "support/BleStandinProcess.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "support/FakeModelTimers.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

const QString deskBridge = QStringLiteral("C0:FF:EE:00:00:02");

class AppModelBleStartTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        device = new DevsimProcess({QStringLiteral("--interval"), QStringLiteral("200")});
        standin = new BleStandinProcess({QStringLiteral("--link"), device->link,
                                         QStringLiteral("--nordic"),
                                         deskBridge + QStringLiteral("=Desk Bridge")});
        standin->useInThisProcess();
    }
    static void TearDownTestSuite() {
        delete standin;
        delete device;
    }

    void SetUp() override {
        if (!standin->skipReason().isEmpty()) {
            GTEST_SKIP() << standin->skipReason().toStdString();
        }
        ASSERT_TRUE(standin->isReady()) << standin->error().toStdString();
        qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
    }

    std::unique_ptr<AppStore> openStore() {
        auto store = AppStore::open(data.filePath(QStringLiteral("test.db")));
        return store ? std::move(store.value()) : nullptr;
    }

    // Everything the desktop program builds before its event loop runs, and startup().
    std::unique_ptr<AppModel> startModel() {
        AppModel::Parts parts;
        parts.serialPlatform = ProtocolStack::singlePortPlatform(QString());
        parts.bluetoothCentral = std::make_unique<QtBluetoothCentral>([](const QString&) {});
        parts.clipboardIO = &io;
        parts.clipboardTimers = &clock;
        parts.timers = std::make_unique<FakeModelTimers>(clock);
        parts.openStore = [this] {
            return AppStore::open(data.filePath(QStringLiteral("test.db")));
        };
        auto model = std::make_unique<AppModel>(std::move(parts));
        QCoreApplication::processEvents(); // startup()
        return model;
    }

    static inline DevsimProcess* device = nullptr;
    static inline BleStandinProcess* standin = nullptr;
    QTemporaryDir data;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
};

TEST_F(AppModelBleStartTest, ASavedBridgeOfAnyNameIsConnectedWithoutTheUser) {
    {
        auto store = openStore();
        ASSERT_TRUE(store);
        AppSettings settings;
        settings.bluetoothDeviceID = deskBridge;
        settings.bluetoothDeviceName = QStringLiteral("Desk Bridge");
        ASSERT_TRUE(store->saveSettings(settings));
    }
    auto model = startModel();
    ASSERT_TRUE(test::waitUntil([&] { return !model->isAutoSelecting(); }, 20000))
        << model->bluetooth().statusText().toStdString();
    EXPECT_EQ(model->bluetooth().connectedDeviceID(), deskBridge);
    EXPECT_EQ(model->bleLink().deviceID(), deskBridge);
    EXPECT_TRUE(model->errorMessage().isEmpty()) << model->errorMessage().toStdString();

    device->command(QStringLiteral("text 书桌上的桥"));
    ASSERT_TRUE(test::waitUntil([&] { return !model->clipboardState().history.isEmpty(); }, 15000));
    EXPECT_EQ(model->clipboardState().history[0].text, QStringLiteral("书桌上的桥"));
    model->shutdown();
}

TEST_F(AppModelBleStartTest, ABlueZThatAnswersLateHoldsUpNothing) {
    constexpr int stallMs = 4000;
    standin->command(QStringLiteral("stall %1").arg(stallMs));
    QByteArray line;
    const QDeadlineTimer stalled(5000);
    while (line != "STALLED" && !stalled.hasExpired()) {
        if (!standin->process.canReadLine()) {
            standin->process.waitForReadyRead(50);
            continue;
        }
        line = standin->process.readLine().trimmed();
    }
    ASSERT_EQ(line, "STALLED");

    QElapsedTimer elapsed;
    elapsed.start();
    auto model = startModel();
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    ASSERT_TRUE(test::waitUntil([&] { return ticked; }, 1000));
    // Well below the stall and below the old two-second wait for BlueZ.
    RecordProperty("startedAndTickedMs", int(elapsed.elapsed()));
    EXPECT_LT(elapsed.elapsed(), 1500);
    EXPECT_EQ(model->bluetooth().authorizationStatusText(), "未请求权限");

    // The answer, once it comes, brings the adapter's state.
    ASSERT_TRUE(test::waitUntil(
        [&] { return model->bluetooth().authorizationStatusText() == "已授权"; }, 15000))
        << model->bluetooth().statusText().toStdString();
    EXPECT_GE(elapsed.elapsed(), stallMs / 2);
    model->shutdown();
}

} // namespace
} // namespace orvane
