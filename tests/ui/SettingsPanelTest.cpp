// The settings page against the real model: the serial service on the simulated device's
// pseudo-terminal, the store in a scratch directory and, for Bluetooth, the real Qt stack
// against the BlueZ stand-in.
#include "app/AppModel.h"
#include "platform/linux/QtBluetoothCentral.h"
#include "support/BleStandinProcess.h"
#include "support/DesktopScene.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "ui/AppShell.h"
#include "ui/BluetoothSettingsLauncher.h"
#include "ui/BluetoothSettingsSection.h"
#include "ui/FloatingWindow.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/NumericTextField.h"
#include "ui/SerialSettingsSection.h"
#include "ui/SettingsPanelView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>

using namespace orvane;

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 8000) {
    return test::waitUntil(done, timeoutMs);
}

void retype(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

template <typename T>
T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The device's probe came back over the link; the model answers from the event loop.
bool answered(DevsimProcess& device) {
    return waitUntil(
        [&] { return device.waitFor(QStringLiteral("probe_matched"), {}, 0).has_value(); });
}

} // namespace

TEST(NumericTextFieldTest, OnlyAWholeDecimalNumberMovesTheValue) {
    NumericTextField field;
    field.setValue(2000000);
    retype(&field, QStringLiteral("12a"));
    EXPECT_EQ(field.value(), 12); // "12" on the way counted; the "a" does not
    retype(&field, QStringLiteral("9600"));
    EXPECT_EQ(field.value(), 9600);
    for (const char* refused : {"", "-", "+", "12a", "1 2", "0x10", "٣", "99999999999999999999"}) {
        field.setText(QString::fromUtf8(refused));
        EXPECT_EQ(field.value(), 9600) << refused;
    }
    field.setText(QStringLiteral("-5"));
    EXPECT_EQ(field.value(), -5);
    field.setText(QStringLiteral("+115200"));
    EXPECT_EQ(field.value(), 115200);
    EXPECT_EQ(NumericTextField::parse(QStringLiteral("007")), 7);
}

TEST(BluetoothSettingsLauncherTest, TheDesktopsOwnToolFirstAndNoneFoundSaysSo) {
    const auto programs = [](const QString& desktop) {
        QStringList names;
        for (const auto& tool : BluetoothSettingsLauncher::candidates(desktop)) {
            names << tool.program + QLatin1Char(' ') + tool.arguments.join(u' ');
        }
        return names;
    };
    EXPECT_EQ(programs(QStringLiteral("ubuntu:GNOME")).first(), "gnome-control-center bluetooth");
    EXPECT_EQ(programs(QStringLiteral("KDE")).first(), "systemsettings kcm_bluetooth");
    EXPECT_EQ(programs(QStringLiteral("XFCE")).first(), "blueman-manager ");

    QStringList started;
    const auto start = [&](const QString& path, const QStringList&) {
        started << path;
        return !path.contains(QLatin1String("systemsettings")); // that one fails to start
    };
    const BluetoothSettingsLauncher onlyKde(
        [](const QString& p) { return p.startsWith("systemsettings") ? "/usr/bin/" + p : ""; },
        start);
    EXPECT_FALSE(onlyKde.open(QStringLiteral("KDE")));
    EXPECT_EQ(started, QStringList({"/usr/bin/systemsettings", "/usr/bin/systemsettings5"}));
    const BluetoothSettingsLauncher withBlueman([](const QString& p) { return "/usr/bin/" + p; },
                                                start);
    EXPECT_TRUE(withBlueman.open(QStringLiteral("KDE"))); // falls through to blueman
}

namespace {

class SettingsPanelTest : public ::testing::Test, protected test::DesktopScene {
protected:
    void SetUp() override { ASSERT_TRUE(data.isValid()); }
    void TearDown() override { tearDownScene(); }

    std::unique_ptr<AppStore> openStore() {
        auto store = AppStore::open(data.filePath(QStringLiteral("settings.db")));
        EXPECT_TRUE(bool(store));
        return store ? std::move(store.value()) : nullptr;
    }

    // The model and the window as the desktop program builds them, the window on screen.
    void start(const QString& port, std::unique_ptr<BluetoothCentral> central = {}) {
        AppModel::Parts parts = sceneParts(port);
        parts.bluetoothCentral = std::move(central);
        parts.openStore = [this] {
            return AppStore::open(data.filePath(QStringLiteral("settings.db")));
        };
        buildScene(std::move(parts));
        QCoreApplication::processEvents(); // startup()
        shell->start();
        view = shell->mainView()->findChild<SettingsPanelView*>();
        ASSERT_NE(view, nullptr);
    }

    void openSettings() {
        shell->mainView()->sidebar()->setSelection(MainSidebarItem::settings);
        ASSERT_TRUE(view->isVisible());
    }
    void leaveSettings() {
        shell->mainView()->sidebar()->setSelection(MainSidebarItem::clipboard);
        ASSERT_FALSE(view->isVisible());
    }

    SettingsPanelView* view = nullptr;
};

} // namespace

TEST_F(SettingsPanelTest, SaveAndConnectSelectsAndSavesTheChosenPort) {
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("200")});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    start(device.link);
    // Nothing configured: the settings open by themselves.
    EXPECT_EQ(shell->mainView()->sidebarItem(), MainSidebarItem::settings);
    ASSERT_TRUE(view->isVisible());

    SerialSettingsSection& serial = *view->serialSection();
    QComboBox* picker = serial.portPicker();
    EXPECT_EQ(picker->itemText(0), "选择串口…");
    ASSERT_TRUE(waitUntil([&] { return picker->findData(device.link) > 0; }));
    picker->setCurrentIndex(picker->findData(device.link));
    retype(serial.baudRateField(), QStringLiteral("115200"));
    child<QPushButton>(&serial, "saveSerial")->click();

    const auto stored = openStore()->getSettings();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->serialPort, device.link);
    EXPECT_EQ(stored->baudRate, 115200);
    EXPECT_EQ(model->serial().selectedPath(), device.link);
    EXPECT_TRUE(model->errorMessage().isEmpty()) << model->errorMessage().toStdString();
    ASSERT_TRUE(waitUntil([&] { return model->serial().isConnected(); }));
    EXPECT_TRUE(answered(device));
}

TEST_F(SettingsPanelTest, LeavingWithoutSavingChangesNothing) {
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("200")});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    {
        AppSettings saved;
        saved.serialPort = device.link;
        saved.baudRate = 2000000;
        saved.serialDebugLogEnabled = false;
        ASSERT_TRUE(openStore()->saveSettings(saved));
    }
    start(device.link);
    EXPECT_EQ(shell->mainView()->sidebarItem(), MainSidebarItem::clipboard);
    openSettings();

    SerialSettingsSection& serial = *view->serialSection();
    EXPECT_EQ(serial.portPicker()->currentData().toString(), device.link);
    EXPECT_EQ(serial.baudRateField()->text(), "2000000");
    serial.portPicker()->setCurrentIndex(0);
    retype(serial.baudRateField(), QStringLiteral("9600"));
    EXPECT_EQ(serial.baudRate(), 9600);
    view->setSection(SettingsPanelView::SettingsSection::about);
    leaveSettings();

    const auto stored = openStore()->getSettings();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->serialPort, device.link);
    EXPECT_EQ(stored->baudRate, 2000000);
    EXPECT_EQ(model->settings().baudRate, 2000000);
    // Coming back shows what is stored, not the abandoned edit.
    openSettings();
    EXPECT_EQ(serial.baudRateField()->text(), "2000000");
    EXPECT_EQ(serial.portPicker()->currentData().toString(), device.link);

    // The model's error line shows in the page.
    model->connectBluetooth(); // no device saved
    auto* error = child<QLabel>(view, "errorMessage");
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), "未选择蓝牙设备");

    // A port chosen elsewhere (the status bar) shows here, an edit in progress stays.
    retype(serial.baudRateField(), QStringLiteral("9600"));
    const QString other = data.filePath(QStringLiteral("other-port"));
    model->selectSerialPort(other);
    EXPECT_EQ(serial.serialPort(), other);
    EXPECT_EQ(serial.baudRate(), 9600);

    // The debug-log switch acts at once: saved, and the window grows for the log.
    auto* debugLog = child<QCheckBox>(&serial, "debugLog");
    EXPECT_FALSE(debugLog->isChecked());
    debugLog->click();
    EXPECT_TRUE(model->serialDebugLogEnabled()) << model->errorMessage().toStdString();
    EXPECT_TRUE(openStore()->getSettings()->serialDebugLogEnabled);
    // The offscreen screen is 800 high; the window takes all of it, frame included.
    EXPECT_EQ(shell->window()->frameGeometry().height(), 800);
}

// The stand-in's bridge is not named "ZE DOZ ERA", so the start-up's automatic choice
// leaves it alone and every connection below is the page's doing.
TEST_F(SettingsPanelTest, SavedDeviceMissingFromTheScanStillConnectsDirectly) {
    const QString bridge = QStringLiteral("C0:FF:EE:00:00:01");
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("200")});
    BleStandinProcess standin({QStringLiteral("--link"), device.link, QStringLiteral("--nordic"),
                               bridge + QStringLiteral("=Desk KVM")});
    if (!standin.skipReason().isEmpty()) {
        GTEST_SKIP() << standin.skipReason().toStdString();
    }
    ASSERT_TRUE(standin.isReady()) << standin.error().toStdString();
    // Qt reaches the system bus once per process; this test is its only user.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", standin.address.toUtf8());
    qputenv("BLUETOOTH_FORCE_DBUS_LE_VERSION", "5.66");
    start(QString(), std::make_unique<QtBluetoothCentral>());
    BluetoothService& ble = model->bluetooth();
    BluetoothSettingsSection& section = *view->bluetoothSection();
    view->setSection(SettingsPanelView::SettingsSection::bluetooth);
    ASSERT_TRUE(section.isVisible());
    // BlueZ answers in its own time; the page follows.
    EXPECT_TRUE(waitUntil(
        [&] { return child<QLabel>(&section, "authorization")->text() == "权限：已授权"; }));

    // Chosen from the scan and saved, as a user did in an earlier session.
    QComboBox* picker = section.devicePicker();
    ASSERT_TRUE(waitUntil([&] { return picker->findData(bridge) > 0; }));
    picker->setCurrentIndex(picker->findData(bridge));
    child<QPushButton>(&section, "saveDevice")->click();
    EXPECT_EQ(openStore()->getSettings()->bluetoothDeviceID, bridge);
    EXPECT_FALSE(ble.isConnected());

    // A scan that does not find it: the picker waits on its placeholder.
    ble.startScan();
    ble.stopScan();
    EXPECT_TRUE(ble.filteredDevices().isEmpty());
    leaveSettings();
    openSettings();
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(picker->currentText(), "选择 BLE UART 设备…");
    EXPECT_FALSE(child<QPushButton>(&section, "saveDevice")->isEnabled());
    EXPECT_EQ(child<QLabel>(&section, "savedDevice")->text(), "上次连接：Desk KVM");

    child<QPushButton>(&section, "connectSaved")->click();
    ASSERT_TRUE(waitUntil([&] { return ble.isConnected(); }, 10000))
        << ble.statusText().toStdString();
    EXPECT_EQ(ble.connectedDeviceID(), bridge);
    EXPECT_TRUE(answered(device));
    auto* disconnect = child<QPushButton>(&section, "disconnect");
    ASSERT_TRUE(disconnect->isVisible());
    disconnect->click();
    EXPECT_TRUE(waitUntil([&] { return !ble.isConnected(); }));
}
